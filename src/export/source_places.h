// The destination's memory of where each source went: the folder name a folder file (known by
// the SHA-256 of its content) was given at the top of the destination. A later run of the same
// file, in any order and with any other rows, goes to the same folder, where its files are found
// already there; a different file of the same name still gets " (2)", since the names the
// memory holds are taken before any new file is named.
#pragma once

#include <map>
#include <string>

class SourcePlaces {
public:
    // The memory of destination_path; empty when it has none or what is there cannot be read (a
    // line that is not a digest and a plain folder name is passed over).
    explicit SourcePlaces(std::string destination_path, std::string file_name = kFileName);

    // The folder name of the source with this digest; empty when it is new here.
    std::string PlaceOf(const std::string& digest) const;
    const std::map<std::string, std::string>& places() const { return places_; }
    void Remember(const std::string& digest, const std::string& folder_name);
    // Writes the memory back when it changed, replacing the earlier one only once the new one is
    // whole. Empty, or why not.
    std::string Save();

    // The name of the memory's file in the destination (of the folders of the forms of files;
    // the stores of separate PST stores have one of their own, and a single store one beside it).
    static constexpr const char* kFileName = ".ombrik-places";
    static constexpr const char* kSeparateStoresFileName = ".ombrik-pst-places";
    // More entries than this are not read: a destination of more folder files is not plausible.
    static constexpr std::size_t kMaxEntries = 1000000;

private:
    std::string destination_path_;
    std::string file_name_;
    std::map<std::string, std::string> places_;  // digest -> folder name
    bool changed_ = false;
};
