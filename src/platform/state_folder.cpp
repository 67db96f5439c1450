#include "platform/state_folder.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

#include "platform/output_file.h"

namespace platform {

namespace {

// Makes every missing level of path; the levels from `private_from` on get mode 0700.
bool MakeLevels(const std::string& path, std::size_t private_from, std::string& error) {
    for (std::size_t at = 1; at <= path.size(); ++at) {
        if (at != path.size() && path[at] != '/') continue;
        const std::string level = path.substr(0, at);
        const mode_t mode = at > private_from ? 0700 : 0755;
        if (::mkdir(level.c_str(), mode) != 0 && errno != EEXIST) {
            error = level + ": " + ErrorText(errno);
            return false;
        }
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        error = path + " is not a folder";
        return false;
    }
    return true;
}

}  // namespace

std::string UserStateFolder(const std::string& sub_folder, std::string& error) {
    std::string base;
    if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && state[0] == '/') {
        base = state;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        base = std::string(home) + "/.local/state";
    } else {
        error = "neither XDG_STATE_HOME nor HOME names a folder";
        return {};
    }
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    std::string path = base + "/ombrik";
    if (!sub_folder.empty()) path += "/" + sub_folder;
    if (!MakeLevels(path, base.size(), error)) return {};
    return path;
}

}  // namespace platform
