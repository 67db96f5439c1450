// The certificate authorities the system trusts, for a TLS library that cannot find them itself.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace platform {

// Each trusted root certificate of the system's own store, DER-encoded. nullopt where the TLS
// library's default locations are the system's trusted authorities (its own configuration file
// included); a list, possibly empty, where they are not, and the TLS library is then to read
// neither its default locations nor its configuration file (anyone could plant those there).
std::optional<std::vector<std::string>> SystemTrustedCertificates();

}  // namespace platform
