// clDMLLIB_TraceJob: what became of one job at the device (DMLLIB_TraceJob): its state among the
// device's job objects, else its completion in the device's job log.
#pragma once

#include "clDMLLIB_Operation.h"

class clDMLLIB_TraceJob : public clDMLLIB_Operation {
public:
    clDMLLIB_TraceJob(DmlpInstance hAplh, const WCHAR* lpPortName, const ClJobID* lpClJobID, int nCountOption);

    WORD rtnExecute(WORD wStartStatus, DWORD* lpImprCompCnt);
    BYTE byGetTraceResult() const { return m_byRtnTrace; }

private:
    // Status of the job search and the job's state byte (0 when none was found); with the count
    // option the impressions of a job found completed.
    WORD rtnDoGet2(BYTE* lpbyState, DWORD* lpImprCompCnt);
    // The job's state (and count) among the objects of one attribute request; the request's status.
    WORD rtnSearchObjects(const DWORD* lpHandles, WORD wHandles, BYTE* lpbyState, DWORD* lpImprCompCnt);
    WORD rtnDoTraceJob(BYTE* lpbyJobCompID, DWORD* lpImprCompCnt);
    // One job-log request; *lpbFiled tells whether the log holds the job's completion.
    WORD rtnAskJobLog(const DmlpTraceJobParams* lpRequest, BOOL bPause, BYTE* lpbyJobCompID, DWORD* lpImprCompCnt,
                      BOOL* lpbFiled);
    BYTE byGetJobCompIDinLog(const DmlpTraceJobResult* lpResult);
    DWORD GetImprCompCnt(const DmlpTraceJobResult* lpResult);
    void vJudgeJobState(WORD* lpStatus, BYTE byState);

    ClJobID m_ClJobID;
    BYTE m_byRtnTrace;
    int m_nCountOption;
};
