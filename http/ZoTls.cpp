// What both TLS back ends share: the texts of a refused certificate.
#include "ZoTls.h"

#include "ZoSysUtils.h"

WideString CertificateProblemText(TZoCertProblem problem, const AnsiString& host, const WideString& detail)
{
    WideString name = FromUtf8(host);
    WideString text;
    switch (problem) {
    case TZoCertProblem::Untrusted:
        text = u"The server's certificate is not trusted";
        break;
    case TZoCertProblem::Expired:
        text = u"The server's certificate has expired";
        break;
    case TZoCertProblem::NotYetValid:
        text = u"The server's certificate is not valid yet";
        break;
    case TZoCertProblem::WrongName:
        text = u"The server's certificate is not for " + name;
        break;
    case TZoCertProblem::Revoked:
        text = u"The server's certificate has been revoked";
        break;
    case TZoCertProblem::Other:
        text = u"The server's certificate was refused";
        break;
    }
    if (!detail.empty()) text += u" (" + detail + u")";
    return text + u".";
}
