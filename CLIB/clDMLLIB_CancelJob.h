// clDMLLIB_CancelJob: finds the device's job object of one client job id and cancels it
// (DMLLIB_CancelJob).
#pragma once

#include "clDMLLIB_Operation.h"

class clDMLLIB_CancelJob : public clDMLLIB_Operation {
public:
    clDMLLIB_CancelJob(DmlpInstance hAplh, const WCHAR* lpPortName, const ClJobID* lpClJobID);

    WORD rtnExecute(WORD wStartStatus);

private:
    WORD rtnDoGet2(DWORD* lphObject);
    WORD rtnDoCancel(WORD wFound, DWORD hObject);

    ClJobID m_ClJobID;
};
