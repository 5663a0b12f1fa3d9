// clDMLLIB_SubscribeEvent: starts and ends the watch of a device's job events
// (DMLLIB_SubscribeEvent): mode 0 subscribes, mode 1 unsubscribes, mode 2 releases an event block.
#pragma once

#include "clDMLLIB_Operation.h"

class clDMLLIB_SubscribeEvent : public clDMLLIB_Operation {
public:
    clDMLLIB_SubscribeEvent(DmlpInstance hAplh, const WCHAR* lpPortName, BYTE byMode, const DmlpCallback* lpCallback,
                            void* lpReleaseParam, int nCountOption);

    WORD rtnExecute(WORD wStartStatus);
    // Writes the object's binding through lphBind; FALSE when it holds none.
    BOOL bGetEndPointHandle(DmlpBinding* lphBind);

private:
    WORD rtnGetSetListElementSupport();
    WORD rtnSubscribeEvent();
    WORD rtnUnsubscribeEvent();

    BYTE m_byMode;
    BOOL m_bVersion2;
    const DmlpCallback* m_lpCallback;
    void* m_lpReleaseParam;
    int m_nCountOption;
};
