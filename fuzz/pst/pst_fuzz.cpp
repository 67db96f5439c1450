// Any bytes as the start of a PST store (the rest of its first allocation section zeros, where
// our small stores have nothing anyway): opening, checking and reading it must neither crash,
// nor hang, nor allocate beyond what the file could hold.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "store/pst/messaging/checker.h"
#include "store/pst/messaging/store.h"
#include "store/pst/ndb/format.h"

namespace {

// One scratch file per process, removed when the fuzzer exits.
struct ScratchFile {
    std::string path = "/tmp/ombrik-fuzz-pst-" + std::to_string(::getpid()) + ".pst";
    ~ScratchFile() { ::unlink(path.c_str()); }
};

const std::string& ScratchPath() {
    static const ScratchFile file;
    return file.path;
}

void ReadEverything(const std::string& path) {
    auto store = pst::messaging::Store::Open(path, false);
    (void)store->display_name();
    std::vector<std::uint32_t> todo{store->root_folder()};
    for (std::size_t i = 0; i < todo.size() && i < 64; ++i) {
        int read = 0;
        for (auto m : store->Messages(todo[i]))
            if (read++ < 16) (void)store->ReadMessage(m);
        for (const auto& f : store->Subfolders(todo[i])) todo.push_back(f.nid);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kFirstSectionEnd = pst::ndb::kFirstAMapOffset + pst::ndb::kAMapCoverage;
    if (size > (1u << 20)) return 0;
    std::vector<std::uint8_t> file(data, data + size);
    if (file.size() < kFirstSectionEnd) file.resize(kFirstSectionEnd, 0);
    const std::string& path = ScratchPath();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    const bool written = std::fwrite(file.data(), 1, file.size(), f) == file.size();
    std::fclose(f);
    if (!written) return 0;
    (void)pst::CheckPstFile(path);
    try {
        ReadEverything(path);
    } catch (const std::exception&) {
        // Damage is reported by throwing; only crashes, hangs and runaway memory are findings.
    }
    return 0;
}
