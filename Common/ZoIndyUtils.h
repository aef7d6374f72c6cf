// Network helpers: the proxy settings record and the process-wide one that
// every request applies.
#pragma once

#include <cstdint>

#include "ZoXmlUtils.h"

class TZoHttpProxy : public TXmlPersistent {
    ZO_PERSISTENT_CLASS(TZoHttpProxy)
public:
    WideString Address;    // host name or IP address
    bool Checked = false;  // true: requests go through this proxy
    WideString Password;
    int32_t Port = 8080;
    WideString UserName;
};

// The process-wide proxy settings, created on first use with the defaults
// above. Written on the main thread before a download starts, read by every request.
TZoHttpProxy& GlobalHttpProxy();

// ---- TZoHttp: the HTTP request wrapper ------------------------------------------
// (declared here together with the client it wraps)
