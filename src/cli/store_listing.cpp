#include "cli/store_listing.h"

#include "export/json_text.h"

namespace {

const char* OrUnknown(const std::string& text) { return text.empty() ? "(unknown)" : text.c_str(); }

std::string JsonOrNull(const std::string& text) { return text.empty() ? "null" : JsonString(text); }

void PrintProblems(const StoreSearch& search, std::FILE* errors) {
    for (const auto& problem : search.problems) std::fprintf(errors, "ombrik-cli: %s\n", problem.c_str());
    if (search.truncated)
        std::fprintf(errors, "ombrik-cli: the search stopped at its bound of folders or depth; some stores may be missing\n");
}

}  // namespace

void PrintStoreSearch(const StoreSearch& search, std::FILE* out, std::FILE* errors) {
    PrintProblems(search, errors);
    for (const auto& store : search.stores) {
        std::fprintf(out, "%s\n  user: %s, identity: %s, folders: %zu, messages: %zu\n", store.path.c_str(),
                     OrUnknown(store.user), OrUnknown(store.identity), store.folders, store.messages);
    }
    std::fprintf(out, "%zu Outlook Express store%s found\n", search.stores.size(), search.stores.size() == 1 ? "" : "s");
}

void PrintStoreSearchJson(const std::string& root, const StoreSearch& search, std::FILE* out) {
    std::string text = "{\"root\":" + JsonString(root) + ",\"stores\":[";
    for (std::size_t i = 0; i < search.stores.size(); ++i) {
        const FoundStore& store = search.stores[i];
        text += (i == 0 ? "" : ",") + std::string("{\"path\":") + JsonString(store.path) +
                ",\"user\":" + JsonOrNull(store.user) + ",\"identity\":" + JsonOrNull(store.identity) +
                ",\"folders\":" + std::to_string(store.folders) + ",\"messages\":" + std::to_string(store.messages) + "}";
    }
    text += "],\"problems\":[";
    for (std::size_t i = 0; i < search.problems.size(); ++i) text += (i == 0 ? "" : ",") + JsonString(search.problems[i]);
    text += std::string("],\"truncated\":") + (search.truncated ? "true" : "false") + "}\n";
    std::fputs(text.c_str(), out);
}

int RunFindStoresCommand(const std::string& root, const std::string& codepage, StoreListing listing) {
    const StoreSearch search = FindOutlookExpressStores(root, codepage);
    switch (listing) {
        case StoreListing::kText:
            PrintStoreSearch(search, stdout, stderr);
            break;
        case StoreListing::kJson:
            PrintStoreSearchJson(root, search, stdout);
            break;
        case StoreListing::kNulSeparated:
            PrintProblems(search, stderr);
            for (const auto& store : search.stores) std::fwrite(store.path.c_str(), 1, store.path.size() + 1, stdout);
            break;
    }
    return search.stores.empty() ? 1 : 0;
}
