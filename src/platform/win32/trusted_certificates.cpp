#include "platform/trusted_certificates.h"

#include "platform/win32/win32_support.h"

#include <wincrypt.h>

namespace platform {

// The "ROOT" store of the user (which holds the machine's): what Windows' own programs trust,
// kept up to date by Windows Update and by the organisation's policies.
std::optional<std::vector<std::string>> SystemTrustedCertificates() {
    std::vector<std::string> certificates;
    HCERTSTORE store = ::CertOpenSystemStoreW(0, L"ROOT");
    if (store == nullptr) return certificates;
    const CERT_CONTEXT* certificate = nullptr;
    // Bounded by the store: the enumeration ends after its last certificate.
    while ((certificate = ::CertEnumCertificatesInStore(store, certificate)) != nullptr)
        if (certificate->dwCertEncodingType & X509_ASN_ENCODING)
            certificates.emplace_back(reinterpret_cast<const char*>(certificate->pbCertEncoded), certificate->cbCertEncoded);
    ::CertCloseStore(store, 0);
    return certificates;
}

}  // namespace platform
