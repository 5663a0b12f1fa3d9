#include "clDMLLIB_CancelJob.h"

#include "ClibTrace.h"

namespace {

const WORD kJobAttributes[] = {CLIB_ATTR_CLIENT_JOB_ID};
const DmlpStatus kUnknownObject = 8;

} // namespace

clDMLLIB_CancelJob::clDMLLIB_CancelJob(DmlpInstance hAplh, const WCHAR* lpPortName, const ClJobID* lpClJobID)
    : clDMLLIB_Operation(hAplh, lpPortName), m_ClJobID{}
{
    clClientJobId ids;
    ids.Copy(lpClJobID, &m_ClJobID);
}

// As in the trace flow, a search without a match that met a time-out or an incomplete reply
// reports that reply: the job may be the object that did not answer, so nothing is cancelled and
// the job is not given up as unknown.
WORD clDMLLIB_CancelJob::rtnDoGet2(DWORD* lphObject)
{
    WORD rtnRet = DMLP_SUCCESS;
    WORD transient = DMLP_SUCCESS;
    BOOL matched = FALSE;
    for (size_t i = 0; !matched && i < m_Handles.size(); ++i) {
        DmlpGet2Result reply;
        rtnRet = rtnGet2Object(0, m_Handles[i], kJobAttributes, 1, &reply);
        if (rtnRet == DMLP_SUCCESS) {
            matched = bGetMatchedObjectHandle(&reply, &m_ClJobID, lphObject);
            if (!matched) {
                CLIB_TRACE(W("rtnRet = DMLPLIBERR_OTHER_ERROR;"));
                rtnRet = DMLPLIBERR_OTHER_ERROR;
            }
        } else if (rtnRet == DMLP_TIMEOUT || rtnRet == DMLP_INCOMPLETE_REPLY) {
            transient = rtnRet;
        }
        rtnRet = rtnFreeMemory(rtnRet, &reply.buffer);
    }
    bool noMatch = rtnRet == DMLPLIBERR_OTHER_ERROR || rtnRet == kUnknownObject;
    return noMatch && transient != DMLP_SUCCESS ? transient : rtnRet;
}

WORD clDMLLIB_CancelJob::rtnDoCancel(WORD wFound, DWORD hObject)
{
    switch (wFound) {
    case DMLP_SUCCESS: {
        DmlpCancelJobParams request = {};
        request.value1 = hObject;
        DmlpCancelJobResult result = {};
        return rtnCancelJob(&request, &result);
    }
    case DMLP_INCOMPLETE_REPLY:
        CLIB_TRACE(W("Imperfect rtnDoGet2."));
        return DMLP_SUCCESS;
    case DMLP_TIMEOUT:
        CLIB_TRACE(W("Time out rtnDoGet2."));
        return DMLP_SUCCESS;
    case DMLPLIBERR_OTHER_ERROR:
        CLIB_TRACE(W("Not matched rtnDoGet2."));
        return kUnknownObject;
    default:
        CLIB_ERROR(CLIB_ERROR_GENERAL);
        CLIB_TRACE(W("Failed rtnDoGet2."));
        return wFound;
    }
}

WORD clDMLLIB_CancelJob::rtnExecute(WORD wStartStatus)
{
    if (!bCheckBind())
        return rtnNotBound(wStartStatus);
    WORD rtnRet = rtnDoListObjects2();
    if (rtnRet == DMLP_TIMEOUT) {
        CLIB_TRACE(W("Time out rtnDoListObjects2."));
    } else if (rtnRet != DMLP_SUCCESS) {
        CLIB_ERROR(CLIB_ERROR_GENERAL);
        CLIB_TRACE(W("Failed rtnDoListObjects2."));
    } else if (m_Handles.empty()) {
        CLIB_TRACE(W("rtnDoListObjects2 no Objects."));
        rtnRet = kUnknownObject;
    } else {
        DWORD hObject = 0;
        WORD found = rtnDoGet2(&hObject);
        rtnRet = rtnDoCancel(found, hObject);
    }
    CLIB_TRACE(W("Return Value rtnRet = [%ld]"), static_cast<LONG>(rtnRet));
    return rtnRet;
}
