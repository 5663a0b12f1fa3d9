// A port record with the port UI's defaults, for the monitor tests and the printing-road tests.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>

#include "jtrkportcfg.h"

namespace montest {

// Copies text into a fixed WCHAR field, zero-filled, cut at the field's size.
inline void setField(WCHAR* field, size_t cchField, const WString& text)
{
    std::memset(field, 0, cchField * sizeof(WCHAR));
    std::memcpy(field, text.data(), std::min(text.size(), cchField) * sizeof(WCHAR));
}

// A record with the UI's defaults for a RAW port.
inline PortConfigData defaultConfig(const WString& name, const WString& server)
{
    PortConfigData config;
    std::memset(&config, 0, sizeof(config));
    setField(config.sztPortName, _countof(config.sztPortName), name);
    setField(config.sztServerName, _countof(config.sztServerName), server);
    setField(config.sztQueue, _countof(config.sztQueue), JTRK_DEFAULT_QUEUE);
    config.dwProtocol = JTRK_DEFAULT_PROTOCOL;
    config.dwPortNumber = JTRK_DEFAULT_PORTNUMBER;
    config.dwTransferMode = JTRK_DEFAULT_TRANSFERMODE;
    config.dwBanner = JTRK_DEFAULT_BANNER;
    config.dwRetryInfinity = JTRK_DEFAULT_RETRYINFINITY;
    config.dwRetryCount = JTRK_DEFAULT_RETRYCOUNT;
    config.dwRetryInterval = JTRK_DEFAULT_RETRYINTERVAL;
    config.dwLprRetryCount = JTRK_DEFAULT_LPRRETRYCOUNT;
    config.dwLprRetryTimeout = JTRK_DEFAULT_LPRRETRYTIMEOUT;
    config.dwWSAEventTimeout = JTRK_DEFAULT_WSAEVENTTIMEOUT;
    config.dwLprSendInterval = JTRK_DEFAULT_LPRSENDINTERVAL;
    config.dwLprRecvCount = JTRK_DEFAULT_LPRRECVCOUNT;
    config.dwLprRecvInterval = JTRK_DEFAULT_LPRRECVINTERVAL;
    config.dwLprCheckJobStatus = JTRK_DEFAULT_LPRCHECKJOBSTATUS;
    return config;
}

} // namespace montest
