// Command and control ids of the main window, the PST options dialog and the about box. They keep
// the numbers the program has always used, so scripts and tests can address controls by id.
#pragma once

namespace ids {
// Main window.
constexpr int kConvertMessages = 1;
constexpr int kExit = 2;
constexpr int kStatusBar = 0;
constexpr int kSourceList = 1001;
constexpr int kAddFile = 1002;
constexpr int kDestinationBox = 1005;
constexpr int kBrowseDestination = 1006;
constexpr int kSaveAsMsg = 1008;
constexpr int kSaveAsPst = 1009;
constexpr int kSaveAsMbox = 1010;
constexpr int kSaveAsHtml = 1011;
constexpr int kSaveAsRtf = 1012;
constexpr int kProgressBar = 1013;
constexpr int kStatusLine = 1014;
constexpr int kAddFolder = 1017;
constexpr int kClearList = 1018;
constexpr int kRemoveFile = 1019;
constexpr int kFileCount = 1020;
constexpr int kWebsiteLink = 1033;
constexpr int kSaveAsEml = 1036;

// Main window menu. The command numbers are 16-bit values with the top bit set, as menu commands
// have always been numbered; wxWidgets takes menu ids below 0x8000 only, so a menu item carries
// the command's low 15 bits (see WxMenuId), which no other control of the window uses.
constexpr int kMenuOpenFile = 32771;
constexpr int kMenuExportFile = 32772;
constexpr int kMenuExit = 32773;
constexpr int kMenuAbout = 32774;
constexpr int kMenuSoftwareHelp = 32775;
constexpr int kMenuOnlineHelp = 32776;
constexpr int kMenuCodePage = 32777;
constexpr int kMenuRecover = 32778;  // a check item
constexpr int kMenuAddStore = 32779;
constexpr int kMenuFindStores = 32780;
constexpr int kMenuUploadToMailServer = 32781;
constexpr int kMenuManifest = 32782;  // a check item
constexpr int kMenuSkipDuplicates = 32783;  // a check item
constexpr int kMenuExtractAttachments = 32784;  // a check item
// The code page dialog's list.
constexpr int kCodePageChoice = 1040;
// The list of the stores found on a disk.
constexpr int kStoreChoiceList = 1041;
// The dialog shown while a disk is searched for stores: its moving bar and its text.
constexpr int kStoreSearchGauge = 1042;
constexpr int kStoreSearchText = 1043;
constexpr int WxMenuId(int command) { return command & 0x7FFF; }
// The about command of the window menu.
constexpr int kAboutCommand = 0x0010;

// PST options dialog.
constexpr int kPstSeparateStores = 1009;
constexpr int kPstSingleNewStore = 1007;
constexpr int kPstExistingStore = 1008;
constexpr int kPstNewStorePath = 1015;
constexpr int kPstNewStoreBrowse = 1002;
constexpr int kPstExistingStorePath = 1005;
constexpr int kPstExistingStoreBrowse = 1017;
constexpr int kPstConvert = 1;
constexpr int kPstCancel = 2;

// About box.
constexpr int kAboutCompanyLink = 1031;
constexpr int kAboutSupportLink = 1032;
constexpr int kAboutSoftwareLabel = 1033;
constexpr int kAboutProductLink = 1034;
constexpr int kAboutOk = 1;

// Completion dialog.
constexpr int kCompletionCounts = 1101;
constexpr int kCompletionList = 1102;
constexpr int kCompletionOpenFolder = 1103;
constexpr int kCompletionSaveLog = 1104;
// The headlines below the completion text (stopped, nothing converted), one id each from here.
constexpr int kCompletionHeadline = 1105;
}  // namespace ids
