// Network helpers: the proxy settings record.
#include "ZoIndyUtils.h"

#include "ZoPlatform.h"
#include "ZoSysUtils.h"

ZO_PUBLISHED(TZoHttpProxy, TXmlPersistent,
    ZO_PROP(TZoHttpProxy, Address),
    ZO_PROP(TZoHttpProxy, Checked),
    ZO_PROP(TZoHttpProxy, Password),
    ZO_PROP(TZoHttpProxy, Port),
    ZO_PROP(TZoHttpProxy, UserName))

TZoHttpProxy& GlobalHttpProxy()
{
    static TZoHttpProxy proxy;
    return proxy;
}

// ---- TZoHttp ----------------------------------------------------------------------

namespace {

TZoHttp::TWaitCursorHook gCursorHook;

// The wait cursor for the span of one Get, restored on every path.
class TWaitCursor {
public:
    explicit TWaitCursor(int16_t& saved) : saved_(saved)
    {
        active_ = ZoPlatform::OnMainThread() && gCursorHook.Begin && gCursorHook.End;
        if (active_) saved_ = gCursorHook.Begin();
    }
    ~TWaitCursor()
    {
        if (active_) gCursorHook.End(saved_);
    }
    TWaitCursor(const TWaitCursor&) = delete;
    TWaitCursor& operator=(const TWaitCursor&) = delete;

private:
    int16_t& saved_;
    bool active_;
};

}  // namespace

void TZoHttp::SetWaitCursorHook(const TWaitCursorHook& hook) { gCursorHook = hook; }

TZoHttp::TZoHttp()
    : client_(std::make_unique<TZoHttpClient>()),
      content_(std::make_unique<TMemoryStream>()),
      tls_(std::make_unique<TZoTlsLayer>())
{
    client_->Request.CacheControl = "no-cache";
    client_->Request.Accept = "*/*";
    client_->Request.Connection = "Keep-Alive";
    client_->HandleRedirects = true;
    client_->ConnectTimeout = 60000;
    // Without a read time-out a server that stops sending would hold the
    // installer for ever.
    client_->ReadTimeout = 60000;
}

TZoHttp::~TZoHttp() = default;

bool TZoHttp::Get(const WideString& url)
{
    content_->Clear();
    if (!Get(url, *content_)) return false;
    content_->SetPosition(0);
    return true;
}

bool TZoHttp::Get(const WideString& url, TStream& dest)
{
    TWaitCursor wait(savedCursor_);
    try {
        client_->SetTlsLayer(url.compare(0, 5, u"https") == 0 ? tls_.get() : nullptr);

        const TZoHttpProxy& proxy = GlobalHttpProxy();
        TZoHttpClient::TProxySettings& p = client_->Proxy;
        if (proxy.Checked) {
            p.Server = ZoPlatform::WideToAnsi(proxy.Address);
            p.Port = proxy.Port >= 0 && proxy.Port <= 65535 ? static_cast<uint16_t>(proxy.Port) : 0;
            p.Username = ZoPlatform::WideToAnsi(proxy.UserName);
            p.Password = ZoPlatform::WideToAnsi(proxy.Password);
        } else {
            p = TZoHttpClient::TProxySettings{};
        }

        client_->Request.ContentType.clear();
        client_->Request.ContentLength = -1;
        client_->Get(ZoPlatform::WideToAnsi(url), dest);
        return true;
    } catch (const Exception& e) {
        errorMessage_ = e.Message();
    } catch (const std::exception& e) {
        errorMessage_ = FromUtf8(AnsiString(e.what()));
    }
    return false;
}
