// The PST options dialog: its choices, its two Browse buttons and the fields it leaves behind.
#include <wx/button.h>
#include <wx/radiobut.h>
#include <wx/textctrl.h>

#include "app/save_pst_option.h"
#include "fixtures/temp_folder.h"
#include "gui_test_support.h"

namespace guitest {
namespace {

class PstOptions : public testing::Test {
protected:
    void SetUp() override {
        dialog_ = new CSavePSTOption(nullptr, settings_, prompter_);
        dialog_->Show();
        Pump();
    }
    void TearDown() override {
        dialog_->Destroy();
        Pump();
    }
    // The dialog as the next run of the program opens it: settings from scratch.
    void Reopen() {
        dialog_->Destroy();
        Pump();
        settings_ = JobSettings{};
        prompter_.app_messages.clear();
        SetUp();
    }
    wxWindow* Control(int id) { return dialog_->FindWindow(id); }
    bool Enabled(int id) { return Control(id)->IsEnabled(); }
    bool Checked(int id) { return static_cast<wxRadioButton*>(Control(id))->GetValue(); }
    std::string Box(int id) { return Utf8(static_cast<wxTextCtrl*>(Control(id))->GetValue()); }
    void Click(int id) {
        wxCommandEvent event(wxEVT_BUTTON, id);
        event.SetEventObject(Control(id));
        dialog_->GetEventHandler()->ProcessEvent(event);
    }
    void Choose(int id) {
        static_cast<wxRadioButton*>(Control(id))->SetValue(true);
        wxCommandEvent event(wxEVT_RADIOBUTTON, id);
        event.SetEventObject(Control(id));
        dialog_->GetEventHandler()->ProcessEvent(event);
    }

    JobSettings settings_;
    ScriptedPrompter prompter_;
    CSavePSTOption* dialog_ = nullptr;
};

TEST_F(PstOptions, OpensWithNothingChosenAndThePathControlsDisabled) {
    EXPECT_EQ(Utf8(dialog_->GetTitle()), "Save PST Option");
    for (int id : {ids::kPstSeparateStores, ids::kPstSingleNewStore, ids::kPstExistingStore}) {
        EXPECT_FALSE(Checked(id)) << id;
    }
    for (int id : {ids::kPstNewStorePath, ids::kPstNewStoreBrowse, ids::kPstExistingStorePath,
                   ids::kPstExistingStoreBrowse}) {
        EXPECT_FALSE(Enabled(id)) << id;
    }
    EXPECT_EQ(Utf8(static_cast<wxButton*>(Control(ids::kPstConvert))->GetLabelText()), "Convert");
    EXPECT_EQ(Utf8(static_cast<wxButton*>(Control(ids::kPstCancel))->GetLabelText()), "Cancel");
}

TEST_F(PstOptions, ChoicesSetTheModeAndEnableTheirOwnPathControls) {
    Choose(ids::kPstSingleNewStore);
    EXPECT_EQ(settings_.pst_mode, "new");
    EXPECT_TRUE(Enabled(ids::kPstNewStorePath) && Enabled(ids::kPstNewStoreBrowse));
    EXPECT_FALSE(Enabled(ids::kPstExistingStorePath) || Enabled(ids::kPstExistingStoreBrowse));

    Choose(ids::kPstExistingStore);
    EXPECT_EQ(settings_.pst_mode, "old");
    EXPECT_FALSE(Enabled(ids::kPstNewStorePath) || Enabled(ids::kPstNewStoreBrowse));
    EXPECT_TRUE(Enabled(ids::kPstExistingStorePath) && Enabled(ids::kPstExistingStoreBrowse));

    // Separate stores leave the enabled state as it was.
    Choose(ids::kPstSeparateStores);
    EXPECT_EQ(settings_.pst_mode, "seprate");
    EXPECT_TRUE(Enabled(ids::kPstExistingStoreBrowse));
}

TEST_F(PstOptions, BrowseButtonsFillTheStorePaths) {
    Choose(ids::kPstSingleNewStore);
    // The single store is named in a save dialog that proposes NewPST.pst and, since an
    // existing store is added to rather than replaced, does not ask about replacing one.
    prompter_.save_answers.push_back(std::string("/data/mail/Archive 2004.pst"));
    Click(ids::kPstNewStoreBrowse);
    ASSERT_EQ(prompter_.save_requests.size(), 1u);
    EXPECT_EQ(prompter_.save_requests[0].title, "Select the Destination Path");
    EXPECT_EQ(prompter_.save_requests[0].file_name, "NewPST.pst");
    EXPECT_EQ(prompter_.save_requests[0].default_extension, "pst");
    EXPECT_FALSE(prompter_.save_requests[0].ask_before_replacing);
    EXPECT_EQ(settings_.pst_path, "/data/mail/Archive 2004.pst");
    EXPECT_EQ(Box(ids::kPstNewStorePath), "/data/mail/Archive 2004.pst");

    Click(ids::kPstNewStoreBrowse);  // cancelled: nothing changes
    EXPECT_EQ(settings_.pst_path, "/data/mail/Archive 2004.pst");
    // Opened again, it proposes the name and the folder shown.
    EXPECT_EQ(prompter_.save_requests[1].file_name, "Archive 2004.pst");
    EXPECT_EQ(prompter_.save_requests[1].start_folder, "/data/mail");
    prompter_.save_answers.push_back(std::string());  // a place without a path
    Click(ids::kPstNewStoreBrowse);
    EXPECT_EQ(settings_.pst_path, "");
    EXPECT_EQ(Box(ids::kPstNewStorePath), "/data/mail/Archive 2004.pst");

    Choose(ids::kPstExistingStore);
    prompter_.file_answers.push_back(FileSelection{"/data", {"/data/Archive.pst"}});
    Click(ids::kPstExistingStoreBrowse);
    EXPECT_EQ(settings_.existing_pst_path, "/data/Archive.pst");
    EXPECT_EQ(Box(ids::kPstExistingStorePath), "/data/Archive.pst");
    ASSERT_FALSE(prompter_.file_requests.empty());
    EXPECT_EQ(prompter_.file_requests.back().wildcard, "Outlook PST File (*pst)|*.pst;*.pst");
    EXPECT_EQ(prompter_.file_requests.back().default_extension, "pst");
    EXPECT_FALSE(prompter_.file_requests.back().multiple);
}

TEST_F(PstOptions, ConvertWithoutAChoiceOrPathAsksForOneAndStaysOpen) {
    Click(ids::kPstConvert);
    EXPECT_EQ(prompter_.app_messages, (std::vector<std::string>{"Please select destination pst file path"}));
    EXPECT_EQ(settings_.pst_options_answer, "yes");
    EXPECT_TRUE(dialog_->IsShown());

    Click(ids::kPstCancel);
    EXPECT_EQ(settings_.pst_options_answer, "no");
    EXPECT_FALSE(dialog_->IsShown());
    EXPECT_EQ(dialog_->GetReturnCode(), wxID_CANCEL);
}

TEST_F(PstOptions, EarlierPathsAreKeptAndAcceptTheDialog) {
    settings_.pst_path = "/data/NewPST.pst";  // left from an earlier run
    Choose(ids::kPstSingleNewStore);
    Click(ids::kPstConvert);
    EXPECT_TRUE(prompter_.app_messages.empty());
    EXPECT_EQ(settings_.pst_options_answer, "yes");
    EXPECT_EQ(settings_.pst_path, "/data/NewPST.pst");
    EXPECT_EQ(dialog_->GetReturnCode(), wxID_OK);
}

TEST_F(PstOptions, EachModeNeedsItsOwnPath) {
    // A new store's folder chosen earlier does not stand in for the existing store...
    settings_.pst_path = "/data/NewPST.pst";
    Choose(ids::kPstExistingStore);
    Click(ids::kPstConvert);
    EXPECT_EQ(prompter_.app_messages, (std::vector<std::string>{"Please select destination pst file path"}));
    EXPECT_TRUE(dialog_->IsShown());

    // ...nor the other way round.
    settings_.pst_path.clear();
    settings_.existing_pst_path = "/data/Outlook.pst";
    Choose(ids::kPstSingleNewStore);
    Click(ids::kPstConvert);
    EXPECT_EQ(prompter_.app_messages.size(), 2u);
    EXPECT_TRUE(dialog_->IsShown());

    // Each with its own path is accepted.
    Choose(ids::kPstExistingStore);
    Click(ids::kPstConvert);
    EXPECT_EQ(prompter_.app_messages.size(), 2u);
    EXPECT_EQ(settings_.pst_mode, "old");
    EXPECT_EQ(dialog_->GetReturnCode(), wxID_OK);
    EXPECT_FALSE(dialog_->IsShown());
}

TEST_F(PstOptions, TheLastAnswerIsChosenAgainInTheNextRun) {
    fixtures::TempFolder folder;
    const std::string new_store = folder / "Mail.pst";
    Choose(ids::kPstSingleNewStore);
    prompter_.save_answers.push_back(new_store);
    Click(ids::kPstNewStoreBrowse);
    Click(ids::kPstConvert);

    Reopen();
    EXPECT_TRUE(Checked(ids::kPstSingleNewStore));
    EXPECT_TRUE(Enabled(ids::kPstNewStorePath) && Enabled(ids::kPstNewStoreBrowse));
    EXPECT_FALSE(Enabled(ids::kPstExistingStorePath) || Enabled(ids::kPstExistingStoreBrowse));
    EXPECT_EQ(Box(ids::kPstNewStorePath), new_store);
    EXPECT_EQ(settings_.pst_mode, "new");
    EXPECT_EQ(settings_.pst_path, new_store);
    Click(ids::kPstConvert);  // accepted as it stands
    EXPECT_TRUE(prompter_.app_messages.empty());
    EXPECT_EQ(dialog_->GetReturnCode(), wxID_OK);

    // An existing store, chosen and accepted, comes back the same way; the new store's path stays.
    const std::string existing = folder / "Old.pst";
    fixtures::WriteFile(existing, "x");
    Reopen();
    Choose(ids::kPstExistingStore);
    prompter_.file_answers.push_back(FileSelection{folder.path(), {existing}});
    Click(ids::kPstExistingStoreBrowse);
    Click(ids::kPstConvert);
    Reopen();
    EXPECT_TRUE(Checked(ids::kPstExistingStore));
    EXPECT_EQ(Box(ids::kPstExistingStorePath), existing);
    EXPECT_EQ(Box(ids::kPstNewStorePath), new_store);

    // Cancelled, the dialog keeps the answer before; a store that has gone since is not offered.
    Choose(ids::kPstSeparateStores);
    Click(ids::kPstCancel);
    std::filesystem::remove(existing);
    Reopen();
    EXPECT_TRUE(Checked(ids::kPstExistingStore));
    EXPECT_EQ(Box(ids::kPstExistingStorePath), "");
    Click(ids::kPstConvert);
    EXPECT_EQ(prompter_.app_messages, (std::vector<std::string>{"Please select destination pst file path"}));
}

TEST_F(PstOptions, SeparateStoresNeedNoPath) {
    Choose(ids::kPstSeparateStores);
    Click(ids::kPstConvert);
    EXPECT_TRUE(prompter_.app_messages.empty());
    EXPECT_EQ(settings_.pst_options_answer, "yes");
    EXPECT_FALSE(dialog_->IsShown());
}

}  // namespace
}  // namespace guitest
