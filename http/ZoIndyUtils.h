// Network helpers: the proxy settings record and the process-wide one that
// every request applies.
#pragma once

#include <cstdint>

#include "ZoHttpClient.h"
#include "ZoStream.h"
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
// One GET with the whole body kept in memory, configured the same way for
// every caller and applying GlobalHttpProxy. Errors never escape Get: it
// returns false and keeps the message.
class TZoHttp {
public:
    // The wait cursor is user interface: the installer plugs in these two
    // functions, and Get calls them only on the main thread. Begin shows the
    // hourglass and returns the cursor it replaced; End puts that one back.
    struct TWaitCursorHook {
        int16_t (*Begin)() = nullptr;
        void (*End)(int16_t saved) = nullptr;
    };
    static void SetWaitCursorHook(const TWaitCursorHook& hook);

    TZoHttp();
    ~TZoHttp();
    TZoHttp(const TZoHttp&) = delete;
    TZoHttp& operator=(const TZoHttp&) = delete;

    // True when the whole body arrived; it is then in Content, at position 0.
    bool Get(const WideString& url);
    // The same with the body written to dest as it arrives (a large download
    // goes straight to its file); Content is not touched.
    bool Get(const WideString& url, TStream& dest);

    TMemoryStream& Content() { return *content_; }
    // The message of the latest failed Get; a later success leaves it.
    const WideString& ErrorMessage() const { return errorMessage_; }

    void SetConnectTimeout(int milliseconds) { client_->ConnectTimeout = milliseconds; }
    // A connection that stops delivering fails after this long (0: never).
    void SetReadTimeout(int milliseconds) { client_->ReadTimeout = milliseconds; }
    void SetOnWorkBegin(TZoHttpClient::TWorkBeginEvent handler) { client_->OnWorkBegin = std::move(handler); }
    void SetOnWork(TZoHttpClient::TWorkEvent handler) { client_->OnWork = std::move(handler); }
    void SetOnWorkEnd(TZoHttpClient::TWorkEndEvent handler) { client_->OnWorkEnd = std::move(handler); }

    // The client underneath, for the settings Get does not touch.
    TZoHttpClient& Client() { return *client_; }

private:
    WideString errorMessage_;
    std::unique_ptr<TZoHttpClient> client_;
    int16_t savedCursor_ = 0;
    std::unique_ptr<TMemoryStream> content_;
    std::unique_ptr<TZoTlsLayer> tls_;
};
