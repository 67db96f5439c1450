// Choices the desktop program keeps between runs, in the user's wxWidgets configuration.
#pragma once

#include <string>

namespace remembered {
// Keys of the configuration.
inline constexpr const char* kDestination = "/Choices/Destination";
inline constexpr const char* kSavingOption = "/Choices/SavingOption";
inline constexpr const char* kRecover = "/Choices/Recover";  // "1" or "0"
inline constexpr const char* kManifest = "/Choices/Manifest";  // "1" or "0"
inline constexpr const char* kSkipDuplicates = "/Choices/SkipDuplicates";  // "1" or "0"
inline constexpr const char* kExtractAttachments = "/Choices/ExtractAttachments";  // "1" or "0"
// The main window's client size, in dialog units.
inline constexpr const char* kWindowWidth = "/Window/Width";
inline constexpr const char* kWindowHeight = "/Window/Height";
// The PST options last accepted: the mode ("seprate", "new", "old") and the two stores.
inline constexpr const char* kPstMode = "/Choices/PstMode";
inline constexpr const char* kPstNewStore = "/Choices/PstNewStore";
inline constexpr const char* kPstExistingStore = "/Choices/PstExistingStore";
// The folder each chooser last showed, per purpose.
inline constexpr const char* kAddFileFolder = "/Folders/AddFile";
inline constexpr const char* kAddFolderFolder = "/Folders/AddFolder";
inline constexpr const char* kAddStoreFolder = "/Folders/AddStore";
inline constexpr const char* kFindStoresFolder = "/Folders/FindStores";
inline constexpr const char* kDestinationFolder = "/Folders/Destination";
inline constexpr const char* kNewStoreFolder = "/Folders/NewStore";
inline constexpr const char* kExistingStoreFolder = "/Folders/ExistingStore";
inline constexpr const char* kLogFolder = "/Folders/Log";

std::string Text(const char* key);
void Keep(const char* key, const std::string& value);
}  // namespace remembered
