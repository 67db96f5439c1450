#include "app/mail_server_dlg.h"

#include <algorithm>
#include <thread>

#include <wx/app.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/config.h>
#include <wx/choice.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "app/artwork.h"
#include "app/prompter.h"
#include "app/remembered.h"
#include "app/wx_text.h"
#include "conversion/conversion_window.h"
#include "imap/server_url.h"
#include "job/imap_job.h"
#include "platform/secret_store.h"

namespace {

// What the dialog remembers between runs: everything but the password.
constexpr const char* kServerKey = "/MailServer/Server";
constexpr const char* kPortKey = "/MailServer/Port";
constexpr const char* kSecurityKey = "/MailServer/Security";  // "tls" or "starttls"
constexpr const char* kUserKey = "/MailServer/User";
constexpr const char* kPrefixKey = "/MailServer/FolderPrefix";
constexpr const char* kCertificateKey = "/MailServer/Certificate";
constexpr const char* kCertificateFolderKey = "/Folders/Certificate";

const char* const kSecurityChoices[] = {"SSL/TLS (port 993)", "STARTTLS (port 143)"};

std::string Trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

MailServerSecurity SecurityOf(int selection) {
    return selection == 1 ? MailServerSecurity::kStartTls : MailServerSecurity::kImplicitTls;
}

}  // namespace

std::vector<std::string> FolderPrefixLevels(const std::string& text) {
    std::vector<std::string> levels;
    std::size_t begin = 0;
    while (begin <= text.size()) {
        const std::size_t end = std::min(text.find('/', begin), text.size());
        const std::string level = Trimmed(text.substr(begin, end - begin));
        if (!level.empty()) levels.push_back(level);
        begin = end + 1;
    }
    return levels;
}

CMailServerDlg::CMailServerDlg(wxWindow* parent, Prompter& prompter)
    : wxDialog(parent, wxID_ANY, Wx(kMailServerCaption), wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX | wxRESIZE_BORDER),
      prompter_(prompter) {
    SetIcons(ApplicationIcons());
    CreateControls();
    LoadRemembered();
    Bind(wxEVT_CHOICE, [this](wxCommandEvent&) { OnSecurity(); }, mailserver_ids::kSecurity);
    Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnBrowseCertificate(); }, mailserver_ids::kBrowseCertificate);
    Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnTestConnection(); }, mailserver_ids::kTestConnection);
    Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnUpload(); }, wxID_OK);
    CentreOnParent();
}

CMailServerDlg::~CMailServerDlg() { *alive_ = false; }

void CMailServerDlg::CreateControls() {
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(new wxStaticText(this, wxID_ANY,
                                "Every message of the list goes into your mail account with its date, its flags\n"
                                "(read, flagged, replied, forwarded, draft) and the folder tree. Messages the\n"
                                "account holds already are not uploaded again."),
               0, wxALL, 10);
    auto* grid = new wxFlexGridSizer(2, wxSize(8, 6));
    grid->AddGrowableCol(1, 1);
    const auto row = [&](const char* label, wxWindow* control) {
        grid->Add(new wxStaticText(this, wxID_ANY, label), 0, wxALIGN_CENTER_VERTICAL);
        grid->Add(control, 1, wxEXPAND);
    };
    server_ = new wxTextCtrl(this, mailserver_ids::kServer);
    server_->SetHint("imap.example.com");
    row("&Server:", server_);
    wxArrayString securities;
    for (const char* choice : kSecurityChoices) securities.Add(choice);
    security_ = new wxChoice(this, mailserver_ids::kSecurity, wxDefaultPosition, wxDefaultSize, securities);
    security_->SetSelection(0);
    row("S&ecurity:", security_);
    port_ = new wxTextCtrl(this, mailserver_ids::kPort, "993");
    row("&Port:", port_);
    user_ = new wxTextCtrl(this, mailserver_ids::kUser);
    user_->SetHint("anna@example.com");
    row("&User:", user_);
    password_ = new wxTextCtrl(this, mailserver_ids::kPassword, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                               wxTE_PASSWORD);
    row("Pass&word:", password_);
    grid->AddSpacer(0);
    remember_ = new wxCheckBox(this, mailserver_ids::kRememberPassword, "&Remember the password in the system keyring");
    grid->Add(remember_);
    prefix_ = new wxTextCtrl(this, mailserver_ids::kFolderPrefix, kDefaultFolderPrefix);
    row("&Folder:", prefix_);
    auto* certificate_row = new wxBoxSizer(wxHORIZONTAL);
    certificate_ = new wxTextCtrl(this, mailserver_ids::kCertificate);
    certificate_->SetHint("only for a server whose certificate this computer does not trust");
    certificate_row->Add(certificate_, 1, wxEXPAND | wxRIGHT, 6);
    certificate_row->Add(new wxButton(this, mailserver_ids::kBrowseCertificate, "&Browse..."));
    grid->Add(new wxStaticText(this, wxID_ANY, "&Certificate:"), 0, wxALIGN_CENTER_VERTICAL);
    grid->Add(certificate_row, 1, wxEXPAND);
    sizer->Add(grid, 0, wxLEFT | wxRIGHT | wxEXPAND, 10);

    result_ = new wxStaticText(this, mailserver_ids::kTestResult, wxEmptyString);
    sizer->Add(result_, 1, wxALL | wxEXPAND, 10);

    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    test_ = new wxButton(this, mailserver_ids::kTestConnection, kTestConnectionLabel);
    buttons->Add(test_);
    buttons->AddStretchSpacer();
    auto* upload = new wxButton(this, wxID_OK, "Upload");
    upload->SetDefault();
    buttons->Add(upload, 0, wxRIGHT, 6);
    buttons->Add(new wxButton(this, wxID_CANCEL, "Cancel"));
    sizer->Add(buttons, 0, wxALL | wxEXPAND, 10);
    SetSizerAndFit(sizer);
    SetMinSize(GetSize());
    // Room for a refusal's explanation, which runs over a few lines.
    SetSize(wxSize(std::max(GetSize().x, FromDIP(560)), GetSize().y + FromDIP(60)));
}

void CMailServerDlg::LoadRemembered() {
    server_->ChangeValue(Wx(remembered::Text(kServerKey)));
    const bool starttls = remembered::Text(kSecurityKey) == "starttls";
    security_->SetSelection(starttls ? 1 : 0);
    const std::string port = remembered::Text(kPortKey);
    port_->ChangeValue(Wx(port.empty() ? (starttls ? "143" : "993") : port));
    user_->ChangeValue(Wx(remembered::Text(kUserKey)));
    // An empty folder, once chosen, stays chosen: the Outlook Express folders at the account's top.
    if (wxConfigBase::Get() != nullptr && wxConfigBase::Get()->HasEntry(kPrefixKey))
        prefix_->ChangeValue(Wx(remembered::Text(kPrefixKey)));
    certificate_->ChangeValue(Wx(remembered::Text(kCertificateKey)));
    // A password the user asked to keep comes back from the keyring, for the same account only.
    MailServerSettings remembered_account;
    if (!ReadFields(remembered_account)) {
        result_->SetLabel(wxEmptyString);
        return;
    }
    if (const auto kept = platform::KeptSecret(imap::AccountText(remembered_account))) {
        password_->ChangeValue(Wx(*kept));
        remember_->SetValue(true);
    }
}

void CMailServerDlg::OnSecurity() {
    // The port follows the security while it is the other one's default.
    const std::string port = Utf8(port_->GetValue());
    const bool starttls = security_->GetSelection() == 1;
    if (port.empty() || port == (starttls ? "993" : "143")) port_->ChangeValue(starttls ? "143" : "993");
}

void CMailServerDlg::OnBrowseCertificate() {
    FileDialogRequest request;
    request.title = "Select the Certificate to Trust (PEM)";
    request.wildcard = "Certificates (*.pem;*.crt;*.cer)|*.pem;*.crt;*.cer|All files|*";
    request.start_folder = remembered::Text(kCertificateFolderKey);
    const auto chosen = prompter_.ChooseFiles(this, request);
    if (!chosen || chosen->paths.empty()) return;
    certificate_->ChangeValue(Wx(chosen->paths.front()));
    remembered::Keep(kCertificateFolderKey, chosen->folder);
}

bool CMailServerDlg::ReadFields(MailServerSettings& settings) {
    const auto refuse = [this](const std::string& why) {
        result_->SetLabel(Wx(why));
        return false;
    };
    settings = MailServerSettings();
    settings.host = Trimmed(Utf8(server_->GetValue()));
    settings.user = Trimmed(Utf8(user_->GetValue()));
    settings.security = SecurityOf(security_->GetSelection());
    settings.password = Utf8(password_->GetValue());
    settings.folder_prefix = FolderPrefixLevels(Utf8(prefix_->GetValue()));
    settings.ca_file = Trimmed(Utf8(certificate_->GetValue()));
    if (settings.host.empty()) return refuse("Enter the server's name, as your mail provider gives it.");
    if (settings.user.empty()) return refuse("Enter your user name (often your e-mail address).");
    const std::string port = Trimmed(Utf8(port_->GetValue()));
    unsigned long value = 0;
    if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos ||
        (value = std::stoul(port)) == 0 || value > 65535)
        return refuse("The port is a number from 1 to 65535 (993 for SSL/TLS, 143 for STARTTLS).");
    settings.port = static_cast<unsigned>(value);
    return true;
}

void CMailServerDlg::OnTestConnection() {
    MailServerSettings settings;
    if (!ReadFields(settings)) return;
    if (settings.password.empty()) {
        result_->SetLabel("Enter the password first.");
        return;
    }
    test_->Disable();
    result_->SetLabel("Connecting to " + Wx(settings.host) + " ...");
    // The test waits on the network: off the UI thread, its answer posted back.
    std::thread([settings, alive = alive_, this] {
        std::string offered;
        const std::string failure = TestMailServerConnection(settings, offered);
        const std::string text = failure.empty() ? "The connection works: the certificate is trusted, the login was "
                                                   "accepted, and the server " + offered + "."
                                                 : "The connection does not work: " + failure;
        wxTheApp->CallAfter([alive, this, text] {
            if (*alive) ShowTestResult(text);
        });
    }).detach();
}

void CMailServerDlg::ShowTestResult(const std::string& text) {
    result_->SetLabel(Wx(text));
    result_->Wrap(GetClientSize().x - FromDIP(20));
    test_->Enable();
    Layout();
}

std::string CMailServerDlg::test_result() const { return test_->IsEnabled() ? Utf8(result_->GetLabel()) : std::string(); }

void CMailServerDlg::OnUpload() {
    MailServerSettings settings;
    if (!ReadFields(settings)) return;
    if (settings.password.empty()) {
        result_->SetLabel("Enter the password.");
        return;
    }
    remembered::Keep(kServerKey, settings.host);
    remembered::Keep(kPortKey, std::to_string(settings.port));
    remembered::Keep(kSecurityKey, settings.security == MailServerSecurity::kStartTls ? "starttls" : "tls");
    remembered::Keep(kUserKey, settings.user);
    remembered::Keep(kPrefixKey, Utf8(prefix_->GetValue()));
    remembered::Keep(kCertificateKey, settings.ca_file);
    const std::string account = imap::AccountText(settings);
    if (remember_->GetValue()) {
        std::string why;
        if (!platform::KeepSecret(account, settings.password, why))
            prompter_.ShowMessage(this, "The password could not be kept in the system keyring (" + why +
                                            "). It is used for this upload only.", kMessageTitle, msgbox::kJobMessage);
    } else {
        platform::ForgetSecret(account);
    }
    settings_ = settings;
    EndModal(wxID_OK);
}
