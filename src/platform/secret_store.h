// Passwords kept in the system's keyring (the Secret Service of the desktop: GNOME Keyring,
// KWallet), only when the user asks for it, and never anywhere else.
#pragma once

#include <optional>
#include <string>

namespace platform {

// Keeps secret for account ("anna@mail.example.com:993") in the keyring; false with error set
// when there is no keyring to keep it in (then it is kept nowhere).
bool KeepSecret(const std::string& account, const std::string& secret, std::string& error);
// The secret kept for account; nullopt when none is kept or there is no keyring.
std::optional<std::string> KeptSecret(const std::string& account);
// Forgets the secret of account, if one was kept.
void ForgetSecret(const std::string& account);

}  // namespace platform
