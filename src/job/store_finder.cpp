#include "job/store_finder.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <set>
#include <system_error>
#include <utility>

#include "job/outlook_store.h"
#include "platform/file_stream.h"

namespace {

namespace fs = std::filesystem;

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

class StoreWalk {
public:
    StoreWalk(StoreSearch& search, const std::string& codepage, const StoreSearchLimits& limits)
        : search_(search), codepage_(codepage), limits_(limits) {}

    void Walk(const fs::path& directory, int depth) {
        if (search_.stopped) return;
        if (limits_.keep_going && !limits_.keep_going()) {
            search_.stopped = true;
            return;
        }
        if (depth > limits_.max_depth || visited_count_ >= limits_.max_folders) {
            search_.truncated = true;
            return;
        }
        std::error_code ec;
        // The same folder reached again through a link (or a link loop) is not entered twice.
        const fs::path real = fs::canonical(directory, ec);
        if (ec) {
            search_.problems.push_back("cannot read " + platform::Utf8PathText(directory) + ": " + ec.message());
            return;
        }
        if (!visited_.insert(real.string()).second) return;
        ++visited_count_;

        fs::directory_iterator it(directory, ec), end;
        if (ec) {
            search_.problems.push_back("cannot read " + platform::Utf8PathText(directory) + ": " + ec.message());
            return;
        }
        std::vector<fs::path> subfolders;
        bool holds_list = false;
        for (; it != end; it.increment(ec)) {
            if (ec) break;
            std::error_code status_ec;
            const fs::file_status status = it->status(status_ec);  // follows links; never opens
            if (fs::is_directory(status)) {
                subfolders.push_back(it->path());
            } else if (fs::is_regular_file(status) && Lower(it->path().filename().string()) == "folders.dbx") {
                holds_list = true;
            }
        }
        if (ec) search_.problems.push_back("cannot read all of " + platform::Utf8PathText(directory) + ": " + ec.message());
        if (holds_list) AddStore(directory);
        std::sort(subfolders.begin(), subfolders.end());
        for (const auto& sub : subfolders) {
            if (search_.stopped) break;
            Walk(sub, depth + 1);
        }
    }

private:
    void AddStore(const fs::path& directory) {
        const OutlookStore store = LoadOutlookStore(platform::Utf8PathText(directory), codepage_);
        FoundStore found;
        found.path = platform::Utf8PathText(directory);
        NameStoreOwner(found.path, found.user, found.identity);
        found.folders = store.MailFolderCount();
        found.messages = store.MessageCount();
        search_.stores.push_back(std::move(found));
    }

    StoreSearch& search_;
    const std::string& codepage_;
    const StoreSearchLimits& limits_;
    std::set<std::string> visited_;
    std::size_t visited_count_ = 0;
};

}  // namespace

void NameStoreOwner(const std::string& store_path, std::string& user, std::string& identity) {
    user.clear();
    identity.clear();
    std::vector<std::string> parts;
    for (const auto& part : platform::FileSystemPath(store_path)) {
        if (!part.empty() && part != "/" && part != "\\") parts.push_back(platform::Utf8PathText(part));
    }
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        const std::string part = Lower(parts[i]);
        if (part == "documents and settings" || part == "profiles" || part == "users") user = parts[i + 1];
        if (part == "identities" && parts[i + 1].size() > 2 && parts[i + 1].front() == '{' && parts[i + 1].back() == '}')
            identity = parts[i + 1];
    }
}

StoreSearch FindOutlookExpressStores(const std::string& root, const std::string& codepage,
                                     const StoreSearchLimits& limits) {
    StoreSearch search;
    std::error_code ec;
    if (!fs::is_directory(platform::FileSystemPath(root), ec)) {
        search.problems.push_back("cannot read " + root + ": " + (ec ? ec.message() : "not a folder"));
        return search;
    }
    StoreWalk(search, codepage, limits).Walk(platform::FileSystemPath(root), 0);
    return search;
}
