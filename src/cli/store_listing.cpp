#include "cli/store_listing.h"

namespace {

const char* OrUnknown(const std::string& text) { return text.empty() ? "(unknown)" : text.c_str(); }

}  // namespace

void PrintStoreSearch(const StoreSearch& search, std::FILE* out, std::FILE* errors) {
    for (const auto& problem : search.problems) std::fprintf(errors, "ombrik-cli: %s\n", problem.c_str());
    if (search.truncated)
        std::fprintf(errors, "ombrik-cli: the search stopped at its bound of folders or depth; some stores may be missing\n");
    for (const auto& store : search.stores) {
        std::fprintf(out, "%s\n  user: %s, identity: %s, folders: %zu, messages: %zu\n", store.path.c_str(),
                     OrUnknown(store.user), OrUnknown(store.identity), store.folders, store.messages);
    }
    std::fprintf(out, "%zu Outlook Express store%s found\n", search.stores.size(), search.stores.size() == 1 ? "" : "s");
}

int RunFindStoresCommand(const std::string& root, const std::string& codepage) {
    const StoreSearch search = FindOutlookExpressStores(root, codepage);
    PrintStoreSearch(search, stdout, stderr);
    return search.stores.empty() ? 1 : 0;
}
