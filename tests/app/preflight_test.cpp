// Destination, saving options, the checks before a conversion, and leaving the program.
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <set>

#include <wx/button.h>
#include <wx/hyperlink.h>
#include <wx/menu.h>
#include <wx/radiobut.h>
#include <wx/statbox.h>

#include "app/about_dlg.h"

#include "fixtures/temp_folder.h"
#include "gui_test_support.h"

namespace guitest {
namespace {

constexpr unsigned kPreflightStyle = 0x1020;

class Preflight : public MainWindowTest {
protected:
    void ChooseOption(int id) {
        auto* radio = static_cast<wxRadioButton*>(window_->FindWindow(id));
        radio->SetValue(true);
        wxCommandEvent event(wxEVT_RADIOBUTTON, id);
        event.SetEventObject(radio);
        event.SetInt(1);
        window_->GetEventHandler()->ProcessEvent(event);
    }
    void AddOneFile() {
        fixtures::WriteFile(folder_ / "Inbox.dbx", "x");
        AddFiles(folder_.path(), {folder_ / "Inbox.dbx"});
    }
    void ChooseDestination() {
        prompter_.folder_answers.push_back(folder_ / "out");
        std::filesystem::create_directories(folder_ / "out");
        Click(ids::kBrowseDestination);
    }

    fixtures::TempFolder folder_;
};

TEST_F(Preflight, StartsWithEmlChosenAndTheWindowTexts) {
    EXPECT_EQ(settings_.saving_option, "eml");
    EXPECT_TRUE(static_cast<wxRadioButton*>(window_->FindWindow(ids::kSaveAsEml))->GetValue());
    EXPECT_EQ(StatusLine(), std::string(64, '-'));
    EXPECT_EQ(Utf8(window_->GetTitle()), "Ombrik: Full Version 2.0 (Outlook 32-bit Supported)");
    EXPECT_EQ(Utf8(window_->GetStatusBar()->GetStatusText(1)), "Corvanti: Ombrik");
    EXPECT_FALSE(Enabled(ids::kDestinationBox));
    EXPECT_EQ(List().GetColumnCount(), 4);
    wxListItem column;
    column.SetMask(wxLIST_MASK_TEXT | wxLIST_MASK_WIDTH);
    const char* headings[] = {"Folder Path", "Count DBX", "Folder Name", "Type"};
    // The columns keep the proportions of their 255 and 84 pixels at the face the window was
    // drawn with, scaled with the face in use, and all four fit in the list.
    int total = 0, first = 0;
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(List().GetColumn(i, column));
        EXPECT_EQ(Utf8(column.GetText()), headings[i]);
        if (i == 0) first = column.GetWidth();
        else EXPECT_NEAR(column.GetWidth(), first * 84 / 255, 3) << headings[i];
        total += column.GetWidth();
    }
    EXPECT_GE(first, 255);
    EXPECT_LE(total, List().GetClientSize().x);
    // Resizable, unlike the dialog it was designed as (see main_window_test.cpp).
    EXPECT_TRUE(window_->GetWindowStyleFlag() & wxRESIZE_BORDER);
    EXPECT_EQ(window_->start_directory(), std::filesystem::current_path().string());
}

TEST_F(Preflight, OutlookChecksComeFirstForStoreBasedOptionsOnly) {
    const FixedOutlookProbe missing(false, ProgramBitness());
    ReplaceWindow(missing);
    ChooseOption(ids::kSaveAsPst);
    EXPECT_EQ(settings_.saving_option, "pst");
    Click(ids::kConvertMessages);  // no Outlook, empty list, no destination
    ASSERT_EQ(prompter_.messages.size(), 1u);
    EXPECT_EQ(prompter_.messages[0].text,
              "MS Outlook is not installed !. Please Install MS- Outlook On your machine.");
    EXPECT_EQ(prompter_.messages[0].title, "Corvanti Ombrik   ");
    EXPECT_EQ(prompter_.messages[0].style, kPreflightStyle);
    EXPECT_FALSE(prompter_.messages[0].has_owner);

    for (int id : {ids::kSaveAsMsg, ids::kSaveAsHtml, ids::kSaveAsRtf}) {
        ChooseOption(id);
        Click(ids::kConvertMessages);
        EXPECT_EQ(prompter_.messages.back().text, prompter_.messages[0].text);
    }
    // EML and MBOX never ask for Outlook.
    for (int id : {ids::kSaveAsEml, ids::kSaveAsMbox}) {
        ChooseOption(id);
        Click(ids::kConvertMessages);
        EXPECT_EQ(prompter_.messages.back().text, "Please add dbx file");
    }
    EXPECT_EQ(job_.starts, 0);
}

TEST_F(Preflight, OtherBitnessIsRefusedAndRemembered) {
    const FixedOutlookProbe other(true, OtherBitness());
    ReplaceWindow(other);
    ChooseOption(ids::kSaveAsMsg);
    AddOneFile();
    ChooseDestination();
    Click(ids::kConvertMessages);
    ASSERT_EQ(prompter_.messages.size(), 1u);
    EXPECT_EQ(prompter_.messages[0].text, "Mis Match Outlook Bitness & Software Bitness.");
    EXPECT_EQ(prompter_.messages[0].style, kPreflightStyle);
    EXPECT_EQ(settings_.outlook_bitness, OtherBitness());
    EXPECT_EQ(job_.starts, 0);

    ChooseOption(ids::kSaveAsMbox);  // MBOX still converts
    Click(ids::kConvertMessages);
    EXPECT_EQ(prompter_.messages.size(), 1u);
    EXPECT_EQ(job_.starts, 1);
}

TEST_F(Preflight, ListThenDestinationThenStart) {
    ChooseOption(ids::kSaveAsPst);  // our own store component passes the Outlook checks
    Click(ids::kConvertMessages);
    AddOneFile();
    Menu(ids::kMenuExportFile);  // the menu runs the same checks
    EXPECT_EQ(prompter_.MessageTexts(),
              (std::vector<std::string>{"Please add dbx file", "Please Select Destination Path:"}));
    EXPECT_EQ(settings_.outlook_bitness, settings_.program_bitness);
    EXPECT_EQ(job_.starts, 0);

    ChooseDestination();
    Click(ids::kConvertMessages);
    EXPECT_EQ(prompter_.messages.size(), 2u);
    EXPECT_EQ(job_.starts, 1);
}

TEST_F(Preflight, ADestinationThatWentAwayIsChosenAgainNotConvertedInto) {
    AddOneFile();
    ChooseDestination();
    const std::string destination = folder_ / "out/ExportDBX";

    // Only the ExportDBX folder went: it is made again, as Browse made it, and the job starts.
    std::filesystem::remove_all(destination);
    Click(ids::kConvertMessages);
    EXPECT_TRUE(std::filesystem::is_directory(destination));
    EXPECT_EQ(job_.starts, 1);
    PumpUntil([this] { return !job_.IsRunning(); });

    // The chosen folder itself went (a removed folder, an unplugged disk): nothing starts.
    std::filesystem::remove_all(folder_ / "out");
    Click(ids::kConvertMessages);
    EXPECT_EQ(prompter_.MessageTexts(),
              (std::vector<std::string>{"The destination folder " + destination +
                                        " does not exist any more. Choose it again with Browse."}));
    ASSERT_EQ(prompter_.messages.size(), 1u);
    EXPECT_EQ(prompter_.messages.back().style, kPreflightStyle);
    EXPECT_FALSE(std::filesystem::exists(folder_ / "out"));
    EXPECT_EQ(job_.starts, 1);

    // The earlier checks still come first.
    Click(ids::kClearList);
    Click(ids::kConvertMessages);
    EXPECT_EQ(prompter_.MessageTexts().back(), "Please add dbx file");

    // A destination we may not write to is refused with its reason.
    if (::geteuid() != 0) {
        AddOneFile();
        std::filesystem::create_directories(destination);
        std::filesystem::permissions(destination, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
        Click(ids::kConvertMessages);
        std::filesystem::permissions(destination, std::filesystem::perms::owner_all);
        EXPECT_EQ(prompter_.MessageTexts().back(), "The destination folder " + destination +
                                                       " cannot be written to (permission denied). Choose another "
                                                       "one with Browse.");
        EXPECT_EQ(job_.starts, 1);
    }

    // Chosen again with Browse, it is converted into.
    ChooseDestination();
    AddOneFile();
    Click(ids::kConvertMessages);
    EXPECT_EQ(job_.starts, 2);
}

TEST_F(Preflight, EnterConvertsUnlessAButtonHasTheFocus) {
    wxKeyEvent enter(wxEVT_CHAR_HOOK);
    enter.m_keyCode = WXK_RETURN;
    List().SetFocus();
    window_->GetEventHandler()->ProcessEvent(enter);
    EXPECT_EQ(prompter_.MessageTexts(), (std::vector<std::string>{"Please add dbx file"}));
}

TEST_F(Preflight, BrowseBuildsAndCreatesTheDestination) {
    prompter_.folder_answers.push_back(folder_.path());
    Click(ids::kBrowseDestination);
    const std::string destination = folder_.path() + "/ExportDBX";
    EXPECT_EQ(settings_.destination_path, destination);
    EXPECT_EQ(DestinationBox(), destination);
    EXPECT_TRUE(std::filesystem::is_directory(destination));
    ASSERT_EQ(prompter_.folder_titles.size(), 1u);
    EXPECT_EQ(prompter_.folder_titles[0], "Select the Destination Path");

    // An existing folder is simply used again.
    prompter_.folder_answers.push_back(folder_.path());
    Click(ids::kBrowseDestination);
    EXPECT_EQ(settings_.destination_path, destination);

    // Cancelling changes nothing.
    Click(ids::kBrowseDestination);
    EXPECT_EQ(settings_.destination_path, destination);

    // A place without a path clears the destination but leaves the box as it was.
    prompter_.folder_answers.push_back(std::string());
    Click(ids::kBrowseDestination);
    EXPECT_EQ(settings_.destination_path, "");
    EXPECT_EQ(DestinationBox(), destination);

    // A root folder is joined by plain concatenation.
    prompter_.folder_answers.push_back(folder_.path() + "/");
    Click(ids::kBrowseDestination);
    EXPECT_EQ(settings_.destination_path, folder_.path() + "//ExportDBX");
}

TEST_F(Preflight, SavingOptionsChangeOnlyTheOption) {
    AddOneFile();
    ChooseDestination();
    const std::string destination = settings_.destination_path;
    const std::pair<int, const char*> options[] = {
        {ids::kSaveAsMbox, "mbox"}, {ids::kSaveAsMsg, "msg"}, {ids::kSaveAsPst, "pst"},
        {ids::kSaveAsHtml, "html"}, {ids::kSaveAsRtf, "rtf"}, {ids::kSaveAsEml, "eml"}};
    for (const auto& [id, value] : options) {
        ChooseOption(id);
        EXPECT_EQ(settings_.saving_option, value);
    }
    EXPECT_EQ(settings_.destination_path, destination);
    EXPECT_EQ(List().GetItemCount(), 1);
}

TEST_F(Preflight, ExitAsksAndNoKeepsTheWindow) {
    prompter_.message_answers.push_back(wxID_NO);
    Click(ids::kExit);
    ASSERT_EQ(prompter_.messages.size(), 1u);
    EXPECT_EQ(prompter_.messages[0].text, "Do you want to Exit ?       ");
    EXPECT_EQ(prompter_.messages[0].title, " Corvanti Ombrik       ");
    EXPECT_EQ(prompter_.messages[0].style, 0x1024u);
    EXPECT_TRUE(prompter_.messages[0].has_owner);
    EXPECT_EQ(process_ends_, 0);

    // Esc, the close box and the menu ask the same question.
    wxKeyEvent escape(wxEVT_CHAR_HOOK);
    escape.m_keyCode = WXK_ESCAPE;
    window_->GetEventHandler()->ProcessEvent(escape);
    window_->Close();
    Menu(ids::kMenuExit);
    EXPECT_EQ(prompter_.messages.size(), 4u);
    EXPECT_EQ(process_ends_, 0);
    EXPECT_TRUE(window_->IsShown());

    prompter_.message_answers.push_back(wxID_YES);
    Menu(ids::kMenuExit);
    EXPECT_EQ(process_ends_, 1);
}

TEST_F(Preflight, HelpCommandsOpenTheHelpThroughTheDesktop) {
    Menu(ids::kMenuOnlineHelp);
    ASSERT_EQ(prompter_.opened.size(), 1u);
    EXPECT_EQ(prompter_.opened[0], "https://www.corvanti.example/ombrik/help/");

    // Without a compiled help file in the start directory, the shipped pages open.
    window_->SetHelpDirectory(folder_.path());
    fixtures::WriteFile(folder_ / "index.html", "<html></html>");
    Menu(ids::kMenuSoftwareHelp);
    ASSERT_EQ(prompter_.opened.size(), 2u);
    EXPECT_EQ(prompter_.opened[1], folder_ / "index.html");
}

TEST_F(Preflight, SoftwareHelpPrefersACompiledHelpFileInTheStartDirectory) {
    // The start directory is the one current when the window opened, not the program's own.
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(folder_.path());
    ReplaceWindow(DefaultOutlookProbe());
    std::filesystem::current_path(before);
    fixtures::WriteFile(folder_ / "Ombrik.chm", "ITSF");
    window_->SetHelpDirectory(before.string());
    Menu(ids::kMenuSoftwareHelp);
    EXPECT_EQ(prompter_.opened, (std::vector<std::string>{folder_ / "Ombrik.chm"}));
}

TEST_F(Preflight, AboutBoxShowsTheProductAndItsLinks) {
    CAboutDlg about(window_);
    EXPECT_EQ(Utf8(about.GetTitle()), "About Corvanti Ombrik");
    const std::pair<int, const char*> links[] = {
        {ids::kAboutCompanyLink, "https://www.corvanti.example/"},
        {ids::kAboutProductLink, "https://www.corvanti.example/ombrik/"},
        {ids::kAboutSupportLink, "mailto:support@corvanti.example"}};
    for (const auto& [id, target] : links) {
        auto* link = dynamic_cast<wxHyperlinkCtrlBase*>(about.FindWindow(id));
        ASSERT_NE(link, nullptr) << id;
        EXPECT_EQ(Utf8(link->GetURL()), target);
    }
    EXPECT_NE(about.FindWindow(ids::kAboutOk), nullptr);
    // The maker's notice line shows once.
    int notices = 0;
    for (wxWindow* child : about.GetChildren())
        if (auto* text = dynamic_cast<wxStaticText*>(child); text != nullptr && text->GetLabel().Contains("Copyright"))
            ++notices;
    EXPECT_EQ(notices, 1);
}

// Every control and every label that names one has its own underlined letter, none taken by the
// menu bar; the menus have theirs, and the keys the issue asked for.
TEST_F(Preflight, EveryControlAndLabelHasAnUnderlinedLetterOfItsOwn) {
    std::map<wxUniChar, std::string> letters;
    std::vector<std::string> missing;
    const std::set<std::string> display_only = {"Count Total Files:", "Conversion Progress Status:"};
    std::function<void(wxWindow*)> visit = [&](wxWindow* parent) {
        for (wxWindow* child : parent->GetChildren()) {
            visit(child);
            const bool labelled = dynamic_cast<wxButton*>(child) != nullptr || dynamic_cast<wxRadioButton*>(child) != nullptr ||
                                  dynamic_cast<wxStaticBox*>(child) != nullptr || dynamic_cast<wxStaticText*>(child) != nullptr;
            auto* control = dynamic_cast<wxControl*>(child);
            if (!labelled || control == nullptr || control->GetId() == ids::kStatusLine ||
                control->GetId() == ids::kFileCount || control->GetLabel().empty() ||
                display_only.count(Utf8(control->GetLabel())) != 0)
                continue;
            const wxString label = control->GetLabel();
            const int at = label.Find('&');
            if (at == wxNOT_FOUND || at + 1 >= static_cast<int>(label.length())) {
                missing.push_back(Utf8(label));
                continue;
            }
            const wxUniChar letter = wxToupper(label[static_cast<std::size_t>(at + 1)]);
            EXPECT_TRUE(letters.emplace(letter, Utf8(label)).second)
                << Utf8(label) << " shares its letter with " << letters[letter];
        }
    };
    visit(window_);
    EXPECT_TRUE(missing.empty()) << testing::PrintToString(missing);
    EXPECT_EQ(letters.size(), 17u);  // seven buttons, six choices, four labels
    EXPECT_EQ(letters.count('F') + letters.count('H'), 0u) << "taken by the menu bar";
    wxMenuBar* bar = window_->GetMenuBar();
    for (std::size_t menu = 0; menu < bar->GetMenuCount(); ++menu) {
        EXPECT_NE(bar->GetMenuLabel(menu).Find('&'), wxNOT_FOUND) << Utf8(bar->GetMenuLabel(menu));
        for (wxMenuItem* item : bar->GetMenu(menu)->GetMenuItems()) {
            if (item->IsSeparator()) continue;
            EXPECT_NE(item->GetItemLabel().Find('&'), wxNOT_FOUND) << Utf8(item->GetItemLabel());
        }
    }
    const std::pair<int, const char*> keys[] = {
        {ids::kMenuOpenFile, "Ctrl+O"}, {ids::kMenuExit, "Ctrl+Q"}, {ids::kMenuSoftwareHelp, "F1"}};
    for (const auto& [id, key] : keys) {
        wxMenuItem* item = bar->FindItem(ids::WxMenuId(id));
        ASSERT_NE(item, nullptr) << id;
        EXPECT_TRUE(item->GetItemLabel().EndsWith(std::string("\t") + key)) << Utf8(item->GetItemLabel());
    }
}

}  // namespace
}  // namespace guitest
