// File > Upload to a Mail Server (IMAP)...: the dialog, its connection test, and a real upload
// of the list to a Dovecot the test starts.
#include <cstdlib>
#include <sstream>

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "app/mail_server_dlg.h"
#include "fixtures/dbx_builder.h"
#include "fixtures/dovecot_server.h"
#include "fixtures/temp_folder.h"
#include "gui_test_support.h"

namespace guitest {
namespace {

class MailServerWindow : public testing::Test {
protected:
    void SetUp() override {
        std::string why;
        server_ = fixtures::DovecotServer::Start(fixtures::DovecotOptions(), why);
        if (!server_ && fixtures::DovecotServer::Installed()) FAIL() << "Dovecot did not start: " << why;
        if (!server_) GTEST_SKIP() << "Dovecot cannot be run here, the window's upload is not tested: " << why;
        // The job runs in this process: its journals go to the test's folder.
        setenv("XDG_STATE_HOME", (dir_ / "state").c_str(), 1);
        CurrentJobSettings() = JobSettings{};
        window_ = new COmbrikDlg(CurrentJobSettings(), prompter_, DefaultOutlookProbe(), jobs_);
        window_->Show();
        Pump();
    }
    void TearDown() override {
        if (window_ == nullptr) return;
        PumpUntil([this] { return !jobs_.IsRunning(); });
        jobs_.Join();
        window_->Destroy();
        Pump();
    }

    // Opens the dialog from the menu and calls step with it, again and again (a few times a
    // second) until step says it is done; step ends the dialog.
    void DriveDialog(const std::function<bool(CMailServerDlg&)>& step) {
        bool ended = false;
        std::function<void(int)> next = [&](int tries) {
            CMailServerDlg* dialog = nullptr;
            for (wxWindow* top : wxTopLevelWindows)
                if (auto* d = dynamic_cast<CMailServerDlg*>(top); d != nullptr && d->IsModal()) dialog = d;
            if ((dialog == nullptr || !step(*dialog)) && tries < 1500) {
                wxTheApp->CallAfter([&next, tries] {
                    wxMilliSleep(20);
                    next(tries + 1);
                });
                return;
            }
            ended = true;
        };
        wxTheApp->CallAfter([&next] { next(0); });
        Menu(ids::kMenuUploadToMailServer);
        Pump();
        EXPECT_TRUE(ended) << "the dialog was never driven to its end";
    }
    void Menu(int id) {
        wxCommandEvent event(wxEVT_MENU, ids::WxMenuId(id));
        window_->GetEventHandler()->ProcessEvent(event);
    }
    static void Press(wxDialog& dialog, int id) {
        wxCommandEvent event(wxEVT_BUTTON, id);
        event.SetEventObject(dialog.FindWindow(id));
        dialog.GetEventHandler()->ProcessEvent(event);
    }
    static wxTextCtrl& Field(wxDialog& dialog, int id) { return *static_cast<wxTextCtrl*>(dialog.FindWindow(id)); }
    static std::string Label(wxDialog& dialog, int id) {
        return Utf8(static_cast<wxStaticText*>(dialog.FindWindow(id))->GetLabel());
    }
    void FillAccount(wxDialog& dialog, const std::string& password) {
        Field(dialog, mailserver_ids::kServer).ChangeValue("127.0.0.1");
        Field(dialog, mailserver_ids::kPort).ChangeValue(std::to_string(server_->imaps_port()));
        Field(dialog, mailserver_ids::kUser).ChangeValue(Wx(server_->user()));
        Field(dialog, mailserver_ids::kPassword).ChangeValue(Wx(password));
        Field(dialog, mailserver_ids::kFolderPrefix).ChangeValue("Old mail/Outlook Express");
        Field(dialog, mailserver_ids::kCertificate).ChangeValue(Wx(server_->certificate()));
    }
    void AddRow(const std::string& name, int messages) {
        fixtures::DbxFileBuilder builder;
        for (int i = 0; i < messages; ++i) {
            fixtures::DbxEmailSpec email;
            email.subject = name + " " + std::to_string(i);
            email.text = "Subject: " + *email.subject + "\r\nMessage-ID: <" + name + std::to_string(i) + "@x>\r\n\r\nbody\r\n";
            builder.AddEmail(email);
        }
        builder.WriteTo(dir_ / (name + ".dbx"));
        prompter_.file_answers.push_back(FileSelection{dir_.path(), {dir_ / (name + ".dbx")}});
        window_->OnAddFile();
    }
    std::size_t MessagesOnServer(const std::string& folder) {
        std::string error;
        std::istringstream dump(fixtures::DumpMailbox(*server_, error));
        EXPECT_TRUE(error.empty()) << error;
        std::size_t count = 0;
        for (std::string line; std::getline(dump, line);) count += line.rfind("message " + folder + " uid=", 0) == 0;
        return count;
    }

    fixtures::TempFolder dir_;
    std::unique_ptr<fixtures::DovecotServer> server_;
    ScriptedPrompter prompter_;
    WorkerJobControl jobs_;
    COmbrikDlg* window_ = nullptr;
};

TEST_F(MailServerWindow, TestsTheConnectionThenUploadsTheList) {
    AddRow("Box", 3);
    const std::string settings_before_ = CurrentJobSettings().saving_option;
    int stage = 0;
    std::string wrong, right;
    DriveDialog([&](CMailServerDlg& dialog) {
        switch (stage) {
            case 0:  // nothing filled in: told what is missing, nothing tried
                EXPECT_EQ(Utf8(dialog.GetTitle()), kMailServerCaption);
                EXPECT_EQ(Utf8(Field(dialog, mailserver_ids::kFolderPrefix).GetValue()), kDefaultFolderPrefix);
                Press(dialog, mailserver_ids::kTestConnection);
                EXPECT_NE(Label(dialog, mailserver_ids::kTestResult).find("server's name"), std::string::npos);
                FillAccount(dialog, "not the password");
                Press(dialog, mailserver_ids::kTestConnection);
                ++stage;
                return false;
            case 1:
                wrong = dialog.test_result();
                if (wrong.empty()) return false;
                Field(dialog, mailserver_ids::kPassword).ChangeValue(Wx(server_->password()));
                Press(dialog, mailserver_ids::kTestConnection);
                ++stage;
                return false;
            case 2:
                right = dialog.test_result();
                if (right.empty()) return false;
                Press(dialog, wxID_OK);
                return true;
        }
        return true;
    });
    EXPECT_NE(wrong.find("The connection does not work: the server refused the password of anna"), std::string::npos) << wrong;
    EXPECT_NE(right.find("The connection works"), std::string::npos) << right;

    ASSERT_TRUE(PumpUntil([&] { return !prompter_.summaries.empty() && !jobs_.IsRunning(); }, std::chrono::seconds(120)));
    EXPECT_EQ(prompter_.summaries[0].counts,
              "Folder files: 1   Messages written: 3   Already there: 0   Recovered: 0   Failed: 0");
    EXPECT_EQ(prompter_.summaries[0].destination, "");  // no folder of ours to open
    EXPECT_EQ(MessagesOnServer("Old mail.Outlook Express.Box"), 3u);
    ASSERT_TRUE(PumpUntil([&] { return window_->FindWindow(ids::kConvertMessages)->GetLabel() == wxString(kConvertLabel); }));
    EXPECT_EQ(CurrentJobSettings().saving_option, settings_before_);
    EXPECT_TRUE(CurrentJobSettings().mail_server.password.empty());

    // Again: the fields come back but for the password (not asked to be kept), and nothing is
    // uploaded twice.
    DriveDialog([&](CMailServerDlg& dialog) {
        EXPECT_EQ(Utf8(Field(dialog, mailserver_ids::kServer).GetValue()), "127.0.0.1");
        EXPECT_EQ(Utf8(Field(dialog, mailserver_ids::kUser).GetValue()), server_->user());
        EXPECT_EQ(Utf8(Field(dialog, mailserver_ids::kFolderPrefix).GetValue()), "Old mail/Outlook Express");
        EXPECT_EQ(Utf8(Field(dialog, mailserver_ids::kPassword).GetValue()), "");
        Field(dialog, mailserver_ids::kPassword).ChangeValue(Wx(server_->password()));
        Press(dialog, wxID_OK);
        return true;
    });
    ASSERT_TRUE(PumpUntil([&] { return prompter_.summaries.size() == 2 && !jobs_.IsRunning(); }, std::chrono::seconds(120)));
    EXPECT_EQ(prompter_.summaries[1].counts,
              "Folder files: 1   Messages written: 0   Already there: 3   Recovered: 0   Failed: 0");
    EXPECT_EQ(MessagesOnServer("Old mail.Outlook Express.Box"), 3u);
}

TEST_F(MailServerWindow, PasswordIsKeptOnlyWhenAskedAndOnlyInTheKeyring) {
    AddRow("Box", 1);
    DriveDialog([&](CMailServerDlg& dialog) {
        FillAccount(dialog, server_->password());
        static_cast<wxCheckBox*>(dialog.FindWindow(mailserver_ids::kRememberPassword))->SetValue(true);
        Press(dialog, wxID_OK);
        return true;
    });
    ASSERT_TRUE(PumpUntil([&] { return !prompter_.summaries.empty() && !jobs_.IsRunning(); }, std::chrono::seconds(120)));
    ASSERT_TRUE(PumpUntil([&] { return window_->FindWindow(ids::kConvertMessages)->GetLabel() == wxString(kConvertLabel); }));
    const bool keyring = std::getenv("OMBRIK_KEYRING") != nullptr;
    if (!keyring) {
        // No keyring to keep it in: the user is told, and it is kept nowhere else.
        ASSERT_EQ(prompter_.messages.size(), 1u);
        EXPECT_NE(prompter_.messages[0].text.find("could not be kept in the system keyring"), std::string::npos);
    } else {
        EXPECT_TRUE(prompter_.messages.empty());
    }
    std::string password_shown;
    bool remember_shown = false;
    DriveDialog([&](CMailServerDlg& dialog) {
        password_shown = Utf8(Field(dialog, mailserver_ids::kPassword).GetValue());
        auto* remember = static_cast<wxCheckBox*>(dialog.FindWindow(mailserver_ids::kRememberPassword));
        remember_shown = remember->GetValue();
        // Not to be kept any more: the keyring forgets it.
        remember->SetValue(false);
        Field(dialog, mailserver_ids::kPassword).ChangeValue(Wx(server_->password()));
        Press(dialog, wxID_OK);
        return true;
    });
    ASSERT_TRUE(PumpUntil([&] { return prompter_.summaries.size() == 2 && !jobs_.IsRunning(); }, std::chrono::seconds(120)));
    ASSERT_TRUE(PumpUntil([&] { return window_->FindWindow(ids::kConvertMessages)->GetLabel() == wxString(kConvertLabel); }));
    EXPECT_EQ(password_shown, keyring ? server_->password() : "");
    EXPECT_EQ(remember_shown, keyring);
    DriveDialog([&](CMailServerDlg& dialog) {
        password_shown = Utf8(Field(dialog, mailserver_ids::kPassword).GetValue());
        dialog.EndModal(wxID_CANCEL);
        return true;
    });
    EXPECT_EQ(password_shown, "");
    if (!keyring) std::printf("note: no system keyring here; only the refusal to keep the password was tested\n");
}

}  // namespace
}  // namespace guitest
