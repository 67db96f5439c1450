#include "export/content_digest.h"

#include <cstdint>
#include <memory>
#include <vector>

#include <glib.h>

#include "platform/random_access_file.h"

// GLib's checksums rather than OpenSSL's: GLib is there on every system Ombrik is built for,
// OpenSSL only where the upload to a mail server is.
namespace {

struct ChecksumFree {
    void operator()(GChecksum* checksum) const { g_checksum_free(checksum); }
};
using Checksum = std::unique_ptr<GChecksum, ChecksumFree>;

void Update(GChecksum* checksum, const unsigned char* data, std::size_t size) {
    // g_checksum_update takes a signed length: feed very large inputs in pieces.
    constexpr std::size_t kPiece = std::size_t{1} << 30;
    while (size > 0) {
        const std::size_t piece = size < kPiece ? size : kPiece;
        g_checksum_update(checksum, data, static_cast<gssize>(piece));
        data += piece;
        size -= piece;
    }
}

}  // namespace

std::string Sha256Hex(std::string_view bytes) {
    const Checksum checksum(g_checksum_new(G_CHECKSUM_SHA256));
    if (!checksum) return {};
    Update(checksum.get(), reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    return g_checksum_get_string(checksum.get());
}

std::string FileSha256Hex(const std::string& path) {
    platform::RandomAccessFile file;
    if (file.Open(path, platform::RandomAccessFile::Access::kRead) != 0) return {};
    const Checksum checksum(g_checksum_new(G_CHECKSUM_SHA256));
    if (!checksum) return {};
    std::vector<unsigned char> buffer(1u << 20);
    std::uint64_t offset = 0;
    for (;;) {
        const std::int64_t got = file.ReadAt(buffer.data(), buffer.size(), offset);
        if (got < 0) return {};
        if (got == 0) break;
        Update(checksum.get(), buffer.data(), static_cast<std::size_t>(got));
        offset += static_cast<std::uint64_t>(got);
    }
    return g_checksum_get_string(checksum.get());
}
