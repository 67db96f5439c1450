// Choices the desktop program keeps between runs, in the user's wxWidgets configuration.
#pragma once

#include <string>

namespace remembered {
// Keys of the configuration.
inline constexpr const char* kDestination = "/Choices/Destination";
inline constexpr const char* kSavingOption = "/Choices/SavingOption";
inline constexpr const char* kRecover = "/Choices/Recover";  // "1" or "0"
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
