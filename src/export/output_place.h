// Where an output goes when the destination holds files of an earlier run: a file is never
// replaced by different content. Identical content is left as it is; different content goes
// to the next free name, with " (2)", " (3)", ... before the extension.
#pragma once

#include <string>
#include <string_view>

// The path with " (n)" inserted before the extension of its last component ("Inbox (2).mbox",
// "Subject0 (2).eml"); n = 1 gives the path itself.
std::string NumberedOutputPath(const std::string& path, int n);

// Tries the numbered names no further than this: a destination with so many versions of one
// output is refused rather than searched without end.
inline constexpr int kMaxOutputVersions = 1000;

struct OutputPlace {
    std::string path;           // where to write; empty when no free name was found
    bool already_there = false; // a file at path holds exactly these bytes: write nothing
};

// The place for bytes meant for path: path itself when nothing is there, else the first
// numbered name that is free or holds the same bytes. Something other than a regular file at
// path itself (a link, a folder) is handed back as it is: the writer refuses it.
OutputPlace PlaceForBytes(const std::string& path, std::string_view bytes);

// Puts the finished file at temporary_path in place for path by the same rule; the temporary
// file is gone afterwards. Returns "" on success, or why it failed (the temporary file is then
// removed too). placed gets the final path; already_there is set when an identical file was
// found there.
std::string PlaceFinishedFile(const std::string& temporary_path, const std::string& path, std::string& placed,
                              bool& already_there);
