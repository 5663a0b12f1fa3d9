#include "clDMLLIB_SubscribeEvent.h"

#include "ClibTrace.h"

namespace {

const WORD kComponentClass = 512;
const DWORD kOperationsObject = 101;
const WORD kSupportAttributes[] = {CLIB_ATTR_OPERATIONS};
const uint16_t kSetListElementOperation = 106;
// The engine copies count + 1 ids: the wanted ids and the entry after them.
const uint16_t kJobEvents[] = {154, 18, 0};

} // namespace

clDMLLIB_SubscribeEvent::clDMLLIB_SubscribeEvent(DmlpInstance hAplh, const WCHAR* lpPortName, BYTE byMode,
                                                 const DmlpCallback* lpCallback, void* lpReleaseParam,
                                                 int nCountOption)
    : clDMLLIB_Operation(hAplh, lpPortName), m_byMode(byMode), m_bVersion2(FALSE), m_lpCallback(lpCallback),
      m_lpReleaseParam(lpReleaseParam), m_nCountOption(nCountOption)
{
}

BOOL clDMLLIB_SubscribeEvent::bGetEndPointHandle(DmlpBinding* lphBind)
{
    BOOL bRet = m_hBind != nullptr;
    if (bRet)
        *lphBind = m_hBind;
    CLIB_TRACE(W("Return bRet[%ls]"), ClibBoolText(bRet));
    return bRet;
}

WORD clDMLLIB_SubscribeEvent::rtnGetSetListElementSupport()
{
    DmlpGet2Result reply;
    WORD rtnRet = rtnGet2Object(kComponentClass, kOperationsObject, kSupportAttributes, 1, &reply);
    if (rtnRet == DMLP_SUCCESS)
        m_bVersion2 = ClibListHasElement(ClibFirstObjectValue(&reply, CLIB_ATTR_OPERATIONS), kSetListElementOperation);
    return rtnFreeMemory(rtnRet, &reply.buffer);
}

WORD clDMLLIB_SubscribeEvent::rtnSubscribeEvent()
{
    DmlpEventList events = {static_cast<uint16_t>(m_nCountOption ? 2 : 1), kJobEvents};
    if (m_bVersion2)
        return rtnSubscribeEvent2(CLIB_JOB_CLASS, &events, m_lpCallback);
    return clDMLLIB_Operation::rtnSubscribeEvent(CLIB_JOB_CLASS, &events, m_lpCallback);
}

WORD clDMLLIB_SubscribeEvent::rtnUnsubscribeEvent()
{
    if (m_bVersion2)
        return rtnUnsubscribeEvent2(CLIB_JOB_CLASS);
    return clDMLLIB_Operation::rtnUnsubscribeEvent(CLIB_JOB_CLASS);
}

WORD clDMLLIB_SubscribeEvent::rtnExecute(WORD wStartStatus)
{
    if (m_byMode == DMLLIB_EVENT_SUBSCRIBE && !m_hBind && !m_bBind)
        return rtnNotBound(wStartStatus);
    rtnGetSetListElementSupport();
    WORD rtnRet = DMLPLIBERR_NOT_CALLED;
    switch (m_byMode) {
    case DMLLIB_EVENT_SUBSCRIBE:
        rtnRet = rtnSubscribeEvent();
        break;
    case DMLLIB_EVENT_UNSUBSCRIBE:
        rtnRet = rtnUnsubscribeEvent();
        break;
    case DMLLIB_EVENT_RELEASE:
        rtnRet = rtnReleaseParam(DMLP_SUCCESS, m_lpReleaseParam);
        break;
    default:
        break;
    }
    CLIB_TRACE(W("Return Value rtnRet = [%ld]"), static_cast<LONG>(rtnRet));
    return rtnRet;
}
