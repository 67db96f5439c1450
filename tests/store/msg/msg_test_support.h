// Reading our MSG files back with independent tools: olefile (through dump_msg.py) and the
// strict MSG checker.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>

#include "fixtures/temp_folder.h"

namespace msgtest {

// object path ("msg", "msg/recip0", "msg/attach1/msg") -> tag ("0037001F") -> printed value
using MsgDump = std::map<std::string, std::map<std::string, std::string>>;

inline bool HaveOlefile() { return std::system("/usr/bin/python3 -c 'import olefile' >/dev/null 2>&1") == 0; }

inline std::string DumpScript() { return std::string(OMBRIK_SOURCE_DIR) + "/tests/store/msg/dump_msg.py"; }

// Empty dump and a message in error when the reader fails.
inline MsgDump DumpMsg(const std::string& path, std::string* error = nullptr) {
    fixtures::TempFolder dir;
    const std::string out = dir / "dump.txt";
    const std::string err = dir / "err.txt";
    const std::string command = "/usr/bin/python3 " + DumpScript() + " '" + path + "' > " + out + " 2> " + err;
    MsgDump dump;
    if (std::system(command.c_str()) != 0) {
        if (error != nullptr) *error = fixtures::ReadFile(err);
        return dump;
    }
    std::istringstream lines(fixtures::ReadFile(out));
    std::string line;
    while (std::getline(lines, line)) {
        const auto a = line.find('\t');
        const auto b = line.find('\t', a + 1);
        if (a == std::string::npos || b == std::string::npos) continue;
        dump[line.substr(0, a)][line.substr(a + 1, b - a - 1)] = line.substr(b + 1);
    }
    return dump;
}

inline std::string MsgCheckPath() { return std::string(OMBRIK_TOOLS_DIR) + "/msgcheck.py"; }
inline bool HaveMsgCheck() { return std::filesystem::exists(MsgCheckPath()); }

// The checker's report when it finds anything, empty when the file is clean.
inline std::string MsgCheckStrict(const std::string& path) {
    fixtures::TempFolder dir;
    const std::string out = dir / "check.txt";
    const std::string command = "python3 " + MsgCheckPath() + " --strict '" + path + "' > " + out + " 2>&1";
    if (std::system(command.c_str()) == 0) return {};
    std::string report = fixtures::ReadFile(out);
    return report.empty() ? "msgcheck failed" : report;
}

inline std::string Hex(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

}  // namespace msgtest
