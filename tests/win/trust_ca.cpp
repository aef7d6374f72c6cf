// The test CA of tests/http into the Wine prefix's root store, or out of it:
// the servers' certificates are then trusted the way Windows trusts any, and
// the installer's check stays as it is.
//   trust_ca add|remove CA.pem
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ZoWinHandles_win.h"

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: trust_ca add|remove CA.pem\n");
        return 2;
    }
    const std::wstring verb = argv[1];
    std::ifstream in(argv[2], std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    const std::string pem = text.str();
    DWORD size = 0;
    if (pem.empty() || !CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                                             nullptr, &size, nullptr, nullptr)) {
        std::fprintf(stderr, "trust_ca: no PEM certificate in the file\n");
        return 1;
    }
    std::vector<BYTE> der(size);
    CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, der.data(), &size,
                         nullptr, nullptr);

    // The machine's store: adding to the user's asks the user first on Windows.
    TUniqueCertStore store(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root"));
    if (!store) {
        std::fprintf(stderr, "trust_ca: cannot open the root store (%lu)\n", GetLastError());
        return 1;
    }
    if (verb == L"add") {
        if (!CertAddEncodedCertificateToStore(store.Get(), X509_ASN_ENCODING, der.data(), size,
                                              CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
            std::fprintf(stderr, "trust_ca: cannot add the certificate (%lu)\n", GetLastError());
            return 1;
        }
        return 0;
    }
    if (verb == L"remove") {
        TUniqueCertContext wanted(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), size));
        if (!wanted) return 1;
        // CertDeleteCertificateFromStore frees the context it is given.
        PCCERT_CONTEXT found = CertFindCertificateInStore(store.Get(), X509_ASN_ENCODING, 0, CERT_FIND_EXISTING,
                                                          wanted.Get(), nullptr);
        return found && CertDeleteCertificateFromStore(found) ? 0 : 1;
    }
    std::fprintf(stderr, "trust_ca: add or remove\n");
    return 2;
}
