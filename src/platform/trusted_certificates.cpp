#include "platform/trusted_certificates.h"

namespace platform {

// OpenSSL's own paths on Linux are the distribution's bundle of authorities.
std::optional<std::vector<std::string>> SystemTrustedCertificates() { return std::nullopt; }

}  // namespace platform
