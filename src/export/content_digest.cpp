#include "export/content_digest.h"

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/random_access_file.h"

// Every folder file added alone is read whole for its digest on every run, so the digest runs at
// the speed of the hash: OpenSSL's uses the processor's SHA instructions where it has them (about
// 1.7 GB/s here against 0.3 GB/s for GLib's, which made the digest cost more than the whole
// export of a folder of large messages). GLib's is there for a build without OpenSSL (Windows
// without mail-server upload): the same digest, more slowly.
#if OMBRIK_SHA256_OPENSSL
// OpenSSL's own SHA-256 functions rather than its EVP interface: the same code and speed, but the
// first EVP digest starts OpenSSL 3's provider machinery (its configuration, the default provider,
// the algorithm tables), about 2 MiB more of the process's memory for one algorithm known in
// advance. They are marked deprecated in OpenSSL 3 and still part of it.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>

namespace {

class Checksum {
public:
    Checksum() : ok_(SHA256_Init(&context_) == 1) {}
    explicit operator bool() const { return ok_; }
    void Update(const unsigned char* data, std::size_t size) {
        if (ok_ && SHA256_Update(&context_, data, size) != 1) ok_ = false;
    }
    // Lowercase hexadecimal; empty when the digest failed.
    std::string Hex() {
        unsigned char digest[SHA256_DIGEST_LENGTH];
        if (!ok_ || SHA256_Final(digest, &context_) != 1) return {};
        ok_ = false;
        static constexpr char kDigits[] = "0123456789abcdef";
        // Every message's key is one of these: filled in place, not appended a digit at a time.
        std::string hex(2 * sizeof digest, '0');
        for (std::size_t i = 0; i < sizeof digest; ++i) {
            hex[2 * i] = kDigits[digest[i] >> 4];
            hex[2 * i + 1] = kDigits[digest[i] & 15];
        }
        return hex;
    }

private:
    SHA256_CTX context_;
    bool ok_;
};

}  // namespace
#else
#include <glib.h>

namespace {

class Checksum {
public:
    Checksum() : checksum_(g_checksum_new(G_CHECKSUM_SHA256)) {}
    explicit operator bool() const { return checksum_ != nullptr; }
    void Update(const unsigned char* data, std::size_t size) {
        // g_checksum_update takes a signed length: feed very large inputs in pieces.
        constexpr std::size_t kPiece = std::size_t{1} << 30;
        while (size > 0) {
            const std::size_t piece = size < kPiece ? size : kPiece;
            g_checksum_update(checksum_.get(), data, static_cast<gssize>(piece));
            data += piece;
            size -= piece;
        }
    }
    std::string Hex() { return g_checksum_get_string(checksum_.get()); }

private:
    struct ChecksumFree {
        void operator()(GChecksum* checksum) const { g_checksum_free(checksum); }
    };
    std::unique_ptr<GChecksum, ChecksumFree> checksum_;
};

}  // namespace
#endif

struct Sha256Stream::State {
    Checksum checksum;
};

Sha256Stream::Sha256Stream() : state_(std::make_unique<State>()) {}
Sha256Stream::~Sha256Stream() = default;

void Sha256Stream::Update(const void* data, std::size_t size) {
    state_->checksum.Update(static_cast<const unsigned char*>(data), size);
}

std::string Sha256Stream::Hex() { return state_->checksum ? state_->checksum.Hex() : std::string(); }

std::string Sha256Hex(std::string_view bytes) { return Sha256Hex(bytes, {}); }

std::string Sha256Hex(std::string_view first, std::string_view second) {
    Checksum checksum;
    if (!checksum) return {};
    checksum.Update(reinterpret_cast<const unsigned char*>(first.data()), first.size());
    checksum.Update(reinterpret_cast<const unsigned char*>(second.data()), second.size());
    return checksum.Hex();
}

std::string FileSha256Hex(const std::string& path) {
    platform::RandomAccessFile file;
    if (file.Open(path, platform::RandomAccessFile::Access::kRead) != 0) return {};
    Checksum checksum;
    if (!checksum) return {};
    std::vector<unsigned char> buffer(1u << 20);
    std::uint64_t offset = 0;
    for (;;) {
        const std::int64_t got = file.ReadAt(buffer.data(), buffer.size(), offset);
        if (got < 0) return {};
        if (got == 0) break;
        checksum.Update(buffer.data(), static_cast<std::size_t>(got));
        offset += static_cast<std::uint64_t>(got);
    }
    return checksum.Hex();
}
