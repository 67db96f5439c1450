// File > "Upload to a Mail Server (IMAP)...": the account the list goes to. Server, port,
// security, user, password (kept only when asked, and then only in the system keyring), the
// folder the Outlook Express folders go below, a certificate to trust, and a connection test.
// What is not secret is remembered between runs.
#pragma once

#include <memory>
#include <string>

#include <wx/dialog.h>

#include "conversion/mail_server_settings.h"

class Prompter;
class wxButton;
class wxCheckBox;
class wxChoice;
class wxStaticText;
class wxTextCtrl;

inline const char* const kMailServerCaption = "Upload to a Mail Server (IMAP)";
inline const char* const kMailServerMenuText = "&Upload to a Mail Server (IMAP)...";
inline const char* const kDefaultFolderPrefix = "Outlook Express";
inline const char* const kTestConnectionLabel = "Test Connection";

// The dialog's controls, for tests and for keyboard order.
namespace mailserver_ids {
constexpr int kServer = 1201;
constexpr int kPort = 1202;
constexpr int kSecurity = 1203;
constexpr int kUser = 1204;
constexpr int kPassword = 1205;
constexpr int kRememberPassword = 1206;
constexpr int kFolderPrefix = 1207;
constexpr int kCertificate = 1208;
constexpr int kBrowseCertificate = 1209;
constexpr int kTestConnection = 1210;
constexpr int kTestResult = 1211;
}  // namespace mailserver_ids

// "Outlook Express" -> {"Outlook Express"}; "Old mail/OE" -> {"Old mail", "OE"}; blank levels go.
std::vector<std::string> FolderPrefixLevels(const std::string& text);

class CMailServerDlg : public wxDialog {
public:
    CMailServerDlg(wxWindow* parent, Prompter& prompter);
    ~CMailServerDlg() override;

    // What the dialog was left with: the account to upload to, password included.
    const MailServerSettings& settings() const { return settings_; }
    // Test Connection's answer as the dialog shows it; empty until a test has ended.
    std::string test_result() const;

private:
    void CreateControls();
    void LoadRemembered();
    void OnSecurity();
    void OnBrowseCertificate();
    void OnTestConnection();
    void ShowTestResult(const std::string& text);
    void OnUpload();
    // The account as the fields give it; false (with why shown in the dialog) when a field is wrong.
    bool ReadFields(MailServerSettings& settings);

    Prompter& prompter_;
    MailServerSettings settings_;
    // Cleared when the dialog goes, so a test still under way no longer reaches it.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    wxTextCtrl* server_ = nullptr;
    wxTextCtrl* port_ = nullptr;
    wxChoice* security_ = nullptr;
    wxTextCtrl* user_ = nullptr;
    wxTextCtrl* password_ = nullptr;
    wxCheckBox* remember_ = nullptr;
    wxTextCtrl* prefix_ = nullptr;
    wxTextCtrl* certificate_ = nullptr;
    wxButton* test_ = nullptr;
    wxStaticText* result_ = nullptr;
};
