#include "clDMLLIB_Get2.h"

#include <cstring>

#include "ClibTrace.h"

namespace {

const WORD kDeviceClass = 490;
const WORD kComponentClass = 512;
const DWORD kDeviceObject = 601;
const WORD kJobAttributes[] = {CLIB_ATTR_CLIENT_JOB_ID, CLIB_ATTR_JOB_STATE2, CLIB_ATTR_IMPRESSIONS};
const WORD kSupportAttributes[] = {CLIB_ATTR_LIST_SUPPORT};
const WORD kStateAttributes[] = {CLIB_ATTR_COMPONENT_STATE2};
const WORD kClientJobIdAttributes[] = {CLIB_ATTR_CLIENT_JOB_ID};

const BYTE kLeftOutTopByte = 0x0E;
const WORD kMediaHighWord = 0x0306;
const DWORD kPreferredMedia[] = {0x3060, 0x3062, 0x3063};
const WORD kHintHighWordBusy = 0x0005;
const DWORD kCodeInitializing = 0x09010000;
const DWORD kCodeWarmingUp = 0x09020000;
const DWORD kCodeBusy = 0x09030000;
const BYTE kStatusInitializing = 3;
const BYTE kStatusWarmingUp = 5;
const BYTE kOffline = 3;

BYTE topByte(DWORD code)
{
    return static_cast<BYTE>(code >> 24);
}

// The code with the highest top byte, the first on ties; top byte 0 (and with leaveOut0E, 0x0E)
// never wins; the first code when none wins.
DWORD highestCode(const uint32_t* codes, size_t count, bool leaveOut0E)
{
    size_t chosen = count;
    for (size_t i = 0; i < count; ++i) {
        BYTE top = topByte(codes[i]);
        if (top == 0 || (leaveOut0E && top == kLeftOutTopByte))
            continue;
        if (chosen == count || top > topByte(codes[chosen]))
            chosen = i;
    }
    return codes[chosen == count ? 0 : chosen];
}

bool isPreferredMedia(DWORD code)
{
    for (DWORD preferred : kPreferredMedia)
        if ((code >> 12) == preferred)
            return true;
    return false;
}

} // namespace

clDMLLIB_Get2::clDMLLIB_Get2(DmlpInstance hAplh, const WCHAR* lpPortName, const ClJobID* lpClJobID, int nCountOption)
    : clDMLLIB_Operation(hAplh, lpPortName), m_ClJobID{}, m_nCountOption(nCountOption)
{
    if (lpClJobID) {
        clClientJobId ids;
        ids.Copy(lpClJobID, &m_ClJobID);
    }
}

BOOL clDMLLIB_Get2::bGetJobState(const ClibJobState2* lpstJobState2, DWORD* lpJobCode)
{
    if (!lpstJobState2 || lpstJobState2->StatusCodeCount == 0 || !lpstJobState2->StatusCodeList)
        return FALSE;
    const uint32_t* codes = lpstJobState2->StatusCodeList;
    size_t count = lpstJobState2->StatusCodeCount;
    CLIB_TRACE(W("lpstJobState2->StatusCodeList.Count = [%d]"), static_cast<int>(count));
    for (size_t i = 0; i < count; ++i)
        CLIB_TRACE(W("lpstJobState2->StatusCodeList.List[%d] = [%08lx]"), static_cast<int>(i), codes[i]);
    DWORD code = highestCode(codes, count, true);
    if ((code >> 16) == kMediaHighWord) {
        for (size_t i = 0; i < count; ++i)
            if (isPreferredMedia(codes[i])) {
                code = codes[i];
                break;
            }
    }
    *lpJobCode = code;
    CLIB_TRACE(W("Return Job Status Code = [%08lx]"), code);
    CLIB_TRACE(W("Return Job State Value = [%08lx]"), static_cast<DWORD>(lpstJobState2->State));
    return TRUE;
}

void clDMLLIB_Get2::vMakeReturnStatus(const ClibComponentState2* lpstState, DWORD dwJobCode,
                                      StatusInfo* lpstStatusInfo)
{
    lpstStatusInfo->byOnline = lpstState->Online;
    DWORD device = lpstState->lHintPriorityCode;
    if ((device >> 16) == kHintHighWordBusy)
        device = kCodeBusy;
    if (device == 0 && lpstState->StatusCount != 0 && lpstState->StatusList)
        device = highestCode(lpstState->StatusList, lpstState->StatusCount, false);
    if (lpstState->Status == kStatusInitializing) {
        lpstStatusInfo->lStatusCode = kCodeInitializing;
    } else if (lpstState->Status == kStatusWarmingUp) {
        lpstStatusInfo->lStatusCode = kCodeWarmingUp;
    } else {
        CLIB_TRACE(W("Return Value Job Status Code = [%08lx]"), dwJobCode);
        CLIB_TRACE(W("Return Value Device Status Code = [%08lx]"), device);
        lpstStatusInfo->lStatusCode = topByte(dwJobCode) > topByte(device) ? dwJobCode : device;
        if (lpstStatusInfo->byOnline == kOffline) {
            if ((lpstStatusInfo->lStatusCode >> 16) == 1) {
                lpstStatusInfo->lStatusCode = kCodeInitializing;
                CLIB_TRACE(W("Priority OFFLINE < Initializing (lpstStatusInfo->lStatusCode = [%08lx])"),
                           lpstStatusInfo->lStatusCode);
            } else if ((lpstStatusInfo->lStatusCode >> 16) == 2) {
                lpstStatusInfo->lStatusCode = kCodeWarmingUp;
                CLIB_TRACE(W("Priority OFFLINE < Warming up (lpstStatusInfo->lStatusCode = [%08lx])"),
                           lpstStatusInfo->lStatusCode);
            }
        }
    }
    CLIB_TRACE(W("Return Value lpstStatusInfo->lStatusCode = [%08lx]"), lpstStatusInfo->lStatusCode);
}

WORD clDMLLIB_Get2::rtnDoGet2(DWORD* lpJobCode, DWORD* lpImprCompCnt)
{
    WORD rtnRet = DMLP_SUCCESS;
    BOOL found = FALSE;
    for (size_t i = 0; !found && i < m_Handles.size(); ++i) {
        DmlpGet2Result reply;
        rtnRet = rtnGet2Object(0, m_Handles[i], kJobAttributes, 3, &reply);
        DWORD matched = 0;
        if (rtnRet == DMLP_SUCCESS && bGetMatchedObjectHandle(&reply, &m_ClJobID, &matched)) {
            const DmlpGet2Object* object = ClibObjectOf(&reply, matched);
            auto* state = static_cast<const ClibJobState2*>(
                ClibAttributeValue(object->attributes, object->count, CLIB_ATTR_JOB_STATE2));
            found = bGetJobState(state, lpJobCode);
            if (m_nCountOption)
                bGetJobOutputCnt(object, lpImprCompCnt);
        }
        rtnRet = rtnFreeMemory(rtnRet, &reply.buffer);
        if (rtnRet == DMLP_TIMEOUT) {
            CLIB_TRACE(W("Time out rtnDoGet2."));
            break;
        }
    }
    return rtnRet;
}

BOOL clDMLLIB_Get2::bSupportComponentState2(WORD* lpRetResult)
{
    DmlpGet2Result reply;
    WORD rtnRet = rtnGet2Object(kDeviceClass, kDeviceObject, kSupportAttributes, 1, &reply);
    BOOL bRet = rtnRet == DMLP_SUCCESS &&
                ClibListHasElement(ClibFirstObjectValue(&reply, CLIB_ATTR_LIST_SUPPORT), CLIB_ATTR_COMPONENT_STATE2);
    *lpRetResult = rtnFreeMemory(rtnRet, &reply.buffer);
    CLIB_TRACE(W("Return Value *lpRetResult = [%ld]"), static_cast<LONG>(*lpRetResult));
    CLIB_TRACE(W("Return Value bRet = [%ls]"), ClibBoolText(bRet));
    return bRet;
}

WORD clDMLLIB_Get2::rtnGet2Status(DWORD dwJobCode, StatusInfo* lpstStatusInfo)
{
    DmlpGet2Result reply;
    WORD rtnRet = rtnGet2Object(kComponentClass, kDeviceObject, kStateAttributes, 1, &reply);
    if (rtnRet == DMLP_SUCCESS) {
        auto* state = static_cast<const ClibComponentState2*>(ClibFirstObjectValue(&reply, CLIB_ATTR_COMPONENT_STATE2));
        if (!state) {
            rtnRet = DMLPLIBERR_OTHER_ERROR;
        } else {
            for (uint8_t i = 0; state->StatusList && i < state->StatusCount; ++i)
                CLIB_TRACE(W("Statuslist[%d] = [%08lx]"), i, state->StatusList[i]);
            CLIB_TRACE(W("Status = [%d]"), state->Status);
            CLIB_TRACE(W("Online = [%d]"), state->Online);
            CLIB_TRACE(W("lHintPriorityCode = [%08lx]"), state->lHintPriorityCode);
            CLIB_TRACE(W("StatusCount = [%d]"), state->StatusCount);
            vMakeReturnStatus(state, dwJobCode, lpstStatusInfo);
        }
    }
    return rtnFreeMemory(rtnRet, &reply.buffer);
}

WORD clDMLLIB_Get2::rtnExecute(WORD wStartStatus, StatusInfo* lpstStatusInfo)
{
    if (!bCheckBind())
        return rtnNotBound(wStartStatus);
    DWORD jobCode = 0;
    WORD retResult = rtnDoListObjects2();
    if (retResult != DMLP_SUCCESS) {
        CLIB_TRACE(W("Failed rtnDoListObjects2 ErrorCode=[%ld]"), static_cast<LONG>(retResult));
    } else if (!m_Handles.empty()) {
        DWORD imprCompCnt = 0;
        retResult = rtnDoGet2(&jobCode, &imprCompCnt);
        if (retResult == DMLP_INCOMPLETE_REPLY) {
            CLIB_TRACE(W("Imperfect rtnDoGet2."));
            jobCode = 0;
            retResult = DMLP_SUCCESS;
        } else if (retResult == DMLP_TIMEOUT) {
            CLIB_TRACE(W("Time out rtnDoGet2."));
            return retResult;
        } else if (retResult != DMLP_SUCCESS) {
            CLIB_TRACE(W("Failed rtnDoGet2 ErrorCode=[%ld]"), static_cast<LONG>(retResult));
            jobCode = 0;
        }
        lpstStatusInfo->ImprCompCnt = m_nCountOption ? imprCompCnt : 0;
    }
    if (bSupportComponentState2(&retResult))
        retResult = rtnGet2Status(jobCode, lpstStatusInfo);
    CLIB_TRACE(W("lJobStatus = [%ld]"), jobCode);
    CLIB_TRACE(W("Return Value retResult = [%ld]"), static_cast<LONG>(retResult));
    return retResult;
}

WORD clDMLLIB_Get2::rtnClientJobId(WORD wStartStatus, DWORD hObject, ClJobID* lpClJobID)
{
    if (!bCheckBind())
        return rtnNotBound(wStartStatus);
    DmlpGet2Result reply;
    WORD retResult = rtnGet2Object(0, hObject, kClientJobIdAttributes, 1, &reply);
    if (retResult == DMLP_SUCCESS) {
        const void* value = ClibFirstObjectValue(&reply, CLIB_ATTR_CLIENT_JOB_ID);
        if (!value) {
            retResult = DMLPLIBERR_OTHER_ERROR;
        } else {
            memcpy(lpClJobID, value, sizeof *lpClJobID);
            char jobInfo1[CLJOBID_JOBINFO1_CHARS + 1] = {};
            memcpy(jobInfo1, lpClJobID->JobText, CLJOBID_JOBINFO1_CHARS);
            CLIB_TRACE(W("hObj:[%08x] ClJobID.JobInfo1:[%08d]"), hObject,
                       static_cast<int>(strtoul(jobInfo1, nullptr, 16)));
        }
    }
    retResult = rtnFreeMemory(retResult, &reply.buffer);
    CLIB_TRACE(W("Return Value retResult = [%ld]"), static_cast<LONG>(retResult));
    return retResult;
}
