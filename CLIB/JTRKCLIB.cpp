// The DMLLIB_* exports. Each checks its arguments, runs one short-lived operation object over the
// caller's binding and turns its last status into a result code. Nothing escapes an export: any
// exception becomes DMLLIB_RESULT_EXCEPTION (FALSE for Initialize and Terminate).
#include <exception>
#include <memory>

#include "ClibTrace.h"
#include "DmlpEntries.h"
#include "clDMLLIB_CancelJob.h"
#include "clDMLLIB_Get2.h"
#include "clDMLLIB_SubscribeEvent.h"
#include "clDMLLIB_TraceJob.h"

namespace {

const char kSourceFile[] = __FILE__;

template <typename T>
using Owned = std::unique_ptr<T>;

void traceException(const char* exportName, const void* exception)
{
    g_TraceLog.vPrintError(TRACE_ERROR_EXCEPTION, kSourceFile, exportName);
    g_TraceLog.vPrintMessage(kSourceFile, exportName, W("pException = %p"), exception);
}

template <typename Body>
DWORD guarded(const char* exportName, DWORD onException, Body body)
{
    try {
        return body();
    } catch (const std::exception& error) {
        traceException(exportName, &error);
    } catch (...) {
        traceException(exportName, nullptr);
    }
    return onException;
}

DWORD closing(const char* exportName, DWORD dwRetStatus)
{
    g_TraceLog.vPrintMessage(kSourceFile, exportName, W("Return Value: dwRetStatus = [%08lx]"), dwRetStatus);
    return dwRetStatus;
}

BOOL closingBool(const char* exportName, BOOL bRet)
{
    g_TraceLog.vPrintMessage(kSourceFile, exportName, W("Return bRet[%ls]"), ClibBoolText(bRet));
    return bRet;
}

// An argument check: FALSE (after its error line) when the argument is missing.
bool present(const char* exportName, const void* argument, const WCHAR* message)
{
    if (argument)
        return true;
    g_TraceLog.vPrintError(TRACE_ERROR_PARAMETER, kSourceFile, exportName);
    g_TraceLog.vPrintMessage(kSourceFile, exportName, message);
    return false;
}

bool instancePresent(const char* exportName, DmlpInstance hAplh, const WCHAR* message)
{
    return present(exportName, reinterpret_cast<const void*>(hAplh), message);
}

// hAplh and the printer name, as every export but Initialize, Terminate and ResetBind checks them;
// 0 when both are there.
DWORD commonChecks(const char* exportName, DmlpInstance hAplh, const WCHAR* lpPrinterName,
                   const WCHAR* instanceMessage = W("NULL == hAplh"))
{
    if (!instancePresent(exportName, hAplh, instanceMessage))
        return DMLLIB_RESULT_NO_INSTANCE;
    if (!present(exportName, lpPrinterName, W("NULL == lpPrinterName")))
        return DMLLIB_RESULT_BAD_ARGUMENT;
    return 0;
}

} // namespace

extern "C" {

JTRKCLIB_API BOOL DMLLIB_Initialize(DmlpInstance* phAplh)
{
    const char* name = __func__;
    BOOL bRet = static_cast<BOOL>(guarded(name, FALSE, [&]() -> DWORD {
        if (!present(name, phAplh, W("NULL == phAplh")))
            return FALSE;
        DmlpStatus retResult = g_DmlpEntries.Initialize(DMLP_INTERFACE_VERSION, nullptr, phAplh);
        g_TraceLog.vPrintMessage(kSourceFile, name, W("DMLP_Initialize retResult[%d]"), retResult);
        return retResult == DMLP_SUCCESS;
    }));
    return closingBool(name, bRet);
}

JTRKCLIB_API BOOL DMLLIB_Terminate(DmlpInstance hAplh)
{
    const char* name = __func__;
    BOOL bRet = static_cast<BOOL>(guarded(name, FALSE, [&]() -> DWORD {
        if (!instancePresent(name, hAplh, W("NULL == hAplh")))
            return FALSE;
        return g_DmlpEntries.Terminate(hAplh) == DMLP_SUCCESS;
    }));
    return closingBool(name, bRet);
}

JTRKCLIB_API DMLLIB_RESULTCODE DMLLIB_CheckDevice(DmlpInstance hAplh, const WCHAR* lpPrinterName)
{
    const char* name = __func__;
    return closing(name, guarded(name, DMLLIB_RESULT_EXCEPTION, [&]() -> DWORD {
        if (DWORD failed = commonChecks(name, hAplh, lpPrinterName))
            return failed;
        Owned<clDMLLIB_Operation> operation(new (std::nothrow) clDMLLIB_Operation(hAplh, lpPrinterName));
        if (!operation)
            return DMLLIB_RESULT_BAD_ARGUMENT;
        return operation->dwSetResultCode(DMLP_SUCCESS);
    }));
}

JTRKCLIB_API DMLLIB_RESULTCODE DMLLIB_GetStatusInfo(DmlpInstance hAplh, const WCHAR* lpPrinterName,
                                                    const ClJobID* pClJobID, StatusInfo* lpstStatusInfo,
                                                    DmlpBinding hBind, int nCountOption)
{
    const char* name = __func__;
    return closing(name, guarded(name, DMLLIB_RESULT_EXCEPTION, [&]() -> DWORD {
        if (DWORD failed = commonChecks(name, hAplh, lpPrinterName))
            return failed;
        if (!present(name, lpstStatusInfo, W("NULL == lpstStatusInfo")) ||
            !present(name, pClJobID, W("NULL == pClJobID")))
            return DMLLIB_RESULT_BAD_ARGUMENT;
        Owned<clDMLLIB_Get2> operation(new (std::nothrow) clDMLLIB_Get2(hAplh, lpPrinterName, pClJobID, nCountOption));
        if (!operation)
            return DMLLIB_RESULT_BAD_ARGUMENT;
        operation->bSetEndPointHandle(hBind);
        return operation->dwSetResultCode(operation->rtnExecute(DMLP_SUCCESS, lpstStatusInfo));
    }));
}

JTRKCLIB_API DMLLIB_RESULTCODE DMLLIB_TraceJob(DmlpInstance hAplh, const WCHAR* lpPrinterName, const ClJobID* pClJobID,
                                               BYTE* pbyRtnTrace, DmlpBinding hBind, DWORD* ImprCompCnt,
                                               int nCountOption)
{
    const char* name = __func__;
    return closing(name, guarded(name, DMLLIB_RESULT_EXCEPTION, [&]() -> DWORD {
        if (DWORD failed = commonChecks(name, hAplh, lpPrinterName))
            return failed;
        if (!present(name, pbyRtnTrace, W("NULL == pbyRtnTrace")) ||
            !present(name, pClJobID, W("NULL == pClJobID")) || !present(name, ImprCompCnt, W("NULL == ImprCompCnt")))
            return DMLLIB_RESULT_BAD_ARGUMENT;
        *pbyRtnTrace = DMLLIB_TRACE_FAILED;
        Owned<clDMLLIB_TraceJob> operation(
            new (std::nothrow) clDMLLIB_TraceJob(hAplh, lpPrinterName, pClJobID, nCountOption));
        if (!operation)
            return DMLLIB_RESULT_BAD_ARGUMENT;
        operation->bSetEndPointHandle(hBind);
        WORD status = operation->rtnExecute(DMLP_SUCCESS, ImprCompCnt);
        *pbyRtnTrace = operation->byGetTraceResult();
        return operation->dwSetResultCode(status);
    }));
}

JTRKCLIB_API DMLLIB_RESULTCODE DMLLIB_CancelJob(DmlpInstance hAplh, const WCHAR* lpPrinterName, const ClJobID* pClJobID,
                                                DmlpBinding hBind)
{
    const char* name = __func__;
    return closing(name, guarded(name, DMLLIB_RESULT_EXCEPTION, [&]() -> DWORD {
        if (DWORD failed = commonChecks(name, hAplh, lpPrinterName))
            return failed;
        if (!present(name, pClJobID, W("NULL == pClJobID")))
            return DMLLIB_RESULT_BAD_ARGUMENT;
        Owned<clDMLLIB_CancelJob> operation(new (std::nothrow) clDMLLIB_CancelJob(hAplh, lpPrinterName, pClJobID));
        if (!operation)
            return DMLLIB_RESULT_BAD_ARGUMENT;
        operation->bSetEndPointHandle(hBind);
        return operation->dwSetResultCode(operation->rtnExecute(DMLP_SUCCESS));
    }));
}

JTRKCLIB_API DMLLIB_RESULTCODE DMLLIB_GetClientJobID(DmlpInstance hAplh, const WCHAR* lpPrinterName, DWORD hObject,
                                                     ClJobID* ClientJobID, DmlpBinding hBind)
{
    const char* name = __func__;
    return closing(name, guarded(name, DMLLIB_RESULT_EXCEPTION, [&]() -> DWORD {
        if (DWORD failed = commonChecks(name, hAplh, lpPrinterName))
            return failed;
        if (!present(name, reinterpret_cast<const void*>(static_cast<uintptr_t>(hObject)), W("NULL == hObject")) ||
            !present(name, ClientJobID, W("NULL == ClientJobID")))
            return DMLLIB_RESULT_BAD_ARGUMENT;
        Owned<clDMLLIB_Get2> operation(new (std::nothrow) clDMLLIB_Get2(hAplh, lpPrinterName, nullptr, 0));
        if (!operation)
            return DMLLIB_RESULT_BAD_ARGUMENT;
        operation->bSetEndPointHandle(hBind);
        ClJobID got = {};
        WORD status = operation->rtnClientJobId(DMLP_SUCCESS, hObject, &got);
        clClientJobId ids;
        ids.Copy(&got, ClientJobID);
        return operation->dwSetResultCode(status);
    }));
}

JTRKCLIB_API DMLLIB_RESULTCODE DMLLIB_ReleaseBuff(DmlpInstance hAplh, const WCHAR* lpPrinterName,
                                                  void* pReleaseParamBuff)
{
    const char* name = __func__;
    return closing(name, guarded(name, DMLLIB_RESULT_EXCEPTION, [&]() -> DWORD {
        if (DWORD failed = commonChecks(name, hAplh, lpPrinterName, W("NULL == hAlph")))
            return failed;
        if (!present(name, pReleaseParamBuff, W("NULL == pReleaseParamBuff")))
            return DMLLIB_RESULT_BAD_ARGUMENT;
        Owned<clDMLLIB_Operation> operation(new (std::nothrow) clDMLLIB_Operation(hAplh, lpPrinterName));
        if (!operation)
            return DMLLIB_RESULT_BAD_ARGUMENT;
        return operation->dwSetResultCode(operation->rtnReleaseParam(DMLP_SUCCESS, pReleaseParamBuff));
    }));
}

JTRKCLIB_API DMLLIB_RESULTCODE DMLLIB_SubscribeEvent(DmlpInstance hAplh, const WCHAR* lpPrinterName, BYTE byMode,
                                                     const DmlpCallback* pCallback, DmlpBinding* phBind,
                                                     void* pReleaseParamBuff, int nCountOption)
{
    const char* name = __func__;
    return closing(name, guarded(name, DMLLIB_RESULT_EXCEPTION, [&]() -> DWORD {
        if (DWORD failed = commonChecks(name, hAplh, lpPrinterName, W("NULL == hAlph")))
            return failed;
        Owned<clDMLLIB_SubscribeEvent> operation(new (std::nothrow) clDMLLIB_SubscribeEvent(
            hAplh, lpPrinterName, byMode, pCallback, pReleaseParamBuff, nCountOption));
        if (!operation)
            return DMLLIB_RESULT_BAD_ARGUMENT;
        WORD start = DMLP_SUCCESS;
        if (phBind && (*phBind || byMode != DMLLIB_EVENT_SUBSCRIBE)) {
            operation->bSetEndPointHandle(*phBind);
        } else if (phBind) {
            start = operation->rtnBind();
            if (start == DMLP_SUCCESS)
                operation->bGetEndPointHandle(phBind);
        }
        WORD status = operation->rtnExecute(start);
        if (byMode == DMLLIB_EVENT_UNSUBSCRIBE)
            return operation->dwUnbind(status);
        return operation->dwSetResultCode(status);
    }));
}

// Returns a bare status: 1 rebound, 0 binding untouched, other: the bind's status.
JTRKCLIB_API DWORD DMLLIB_ResetBind(DmlpInstance hAplh, const WCHAR* lpPrinterName, DmlpBinding* phBind,
                                    WORD wLocalPort)
{
    const char* name = __func__;
    return closing(name, guarded(name, 0, [&]() -> DWORD {
        if (!phBind || !*phBind || !lpPrinterName)
            return 0;
        Owned<clDMLLIB_Operation> operation(new (std::nothrow) clDMLLIB_Operation(hAplh, lpPrinterName));
        if (!operation)
            return 0;
        operation->bSetEndPointHandle(*phBind);
        WORD status = operation->dwResetBind(wLocalPort);
        *phBind = operation->hGetBinding();
        return status;
    }));
}

} // extern "C"
