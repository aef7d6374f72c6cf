// Network helpers: the proxy settings record.
#include "ZoIndyUtils.h"

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
