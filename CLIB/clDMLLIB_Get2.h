// clDMLLIB_Get2: the device's status seen from one job (DMLLIB_GetStatusInfo), and the client job
// id of one device object (DMLLIB_GetClientJobID).
#pragma once

#include "clDMLLIB_Operation.h"

class clDMLLIB_Get2 : public clDMLLIB_Operation {
public:
    clDMLLIB_Get2(DmlpInstance hAplh, const WCHAR* lpPortName, const ClJobID* lpClJobID, int nCountOption);

    WORD rtnExecute(WORD wStartStatus, StatusInfo* lpstStatusInfo);
    WORD rtnClientJobId(WORD wStartStatus, DWORD hObject, ClJobID* lpClJobID);

    // The job code of a job state (attribute 283); FALSE when it has no status code.
    static BOOL bGetJobState(const ClibJobState2* lpstJobState2, DWORD* lpJobCode);
    // Online value and status code from the device state (attribute 282) and the job code.
    static void vMakeReturnStatus(const ClibComponentState2* lpstState, DWORD dwJobCode, StatusInfo* lpstStatusInfo);

private:
    WORD rtnDoGet2(DWORD* lpJobCode, DWORD* lpImprCompCnt);
    BOOL bSupportComponentState2(WORD* lpRetResult);
    WORD rtnGet2Status(DWORD dwJobCode, StatusInfo* lpstStatusInfo);

    ClJobID m_ClJobID;
    int m_nCountOption;
};
