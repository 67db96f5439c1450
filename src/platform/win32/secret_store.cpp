#include "platform/secret_store.h"

// <wincred.h> needs the types of <windows.h> first.
#include "platform/win32/win32_support.h"

#include <wincred.h>

namespace platform {

namespace {

// The Credential Manager's name for the account's entry, as the user sees it in the control
// panel's list of Windows credentials.
std::wstring TargetOf(const std::string& account) { return L"Ombrik mail server " + win32::WideText(account); }

}  // namespace

bool KeepSecret(const std::string& account, const std::string& secret, std::string& error) {
    std::wstring target = TargetOf(account);
    std::wstring user = win32::WideText(account);
    CREDENTIALW credential{};
    credential.Type = CRED_TYPE_GENERIC;
    credential.TargetName = target.data();
    credential.UserName = user.data();
    // The secret as UTF-8 bytes, kept for this user on this computer only.
    credential.CredentialBlobSize = static_cast<DWORD>(secret.size());
    credential.CredentialBlob = reinterpret_cast<LPBYTE>(const_cast<char*>(secret.data()));
    credential.Persist = CRED_PERSIST_LOCAL_MACHINE;
    if (secret.size() > CRED_MAX_CREDENTIAL_BLOB_SIZE) {
        error = "the password is too long for the Windows Credential Manager";
        return false;
    }
    if (!::CredWriteW(&credential, 0)) {
        error = "the Windows Credential Manager did not keep the password (error " + std::to_string(::GetLastError()) + ")";
        return false;
    }
    return true;
}

std::optional<std::string> KeptSecret(const std::string& account) {
    PCREDENTIALW credential = nullptr;
    if (!::CredReadW(TargetOf(account).c_str(), CRED_TYPE_GENERIC, 0, &credential) || credential == nullptr)
        return std::nullopt;
    std::string secret(reinterpret_cast<const char*>(credential->CredentialBlob), credential->CredentialBlobSize);
    ::SecureZeroMemory(credential->CredentialBlob, credential->CredentialBlobSize);
    ::CredFree(credential);
    return secret;
}

void ForgetSecret(const std::string& account) { ::CredDeleteW(TargetOf(account).c_str(), CRED_TYPE_GENERIC, 0); }

}  // namespace platform
