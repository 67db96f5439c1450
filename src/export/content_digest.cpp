#include "export/content_digest.h"

#include <memory>
#include <vector>

#include <openssl/evp.h>

#include "platform/random_access_file.h"

namespace {

std::string HexOf(const unsigned char* digest, unsigned int length) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    text.reserve(length * 2);
    for (unsigned int i = 0; i < length; ++i) {
        text += kHex[digest[i] >> 4];
        text += kHex[digest[i] & 0xF];
    }
    return text;
}

struct ContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

}  // namespace

std::string Sha256Hex(std::string_view bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr) != 1) return {};
    return HexOf(digest, length);
}

std::string FileSha256Hex(const std::string& path) {
    platform::RandomAccessFile file;
    if (file.Open(path, platform::RandomAccessFile::Access::kRead) != 0) return {};
    const std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) return {};
    std::vector<unsigned char> buffer(1u << 20);
    std::uint64_t offset = 0;
    for (;;) {
        const std::int64_t got = file.ReadAt(buffer.data(), buffer.size(), offset);
        if (got < 0) return {};
        if (got == 0) break;
        if (EVP_DigestUpdate(context.get(), buffer.data(), static_cast<std::size_t>(got)) != 1) return {};
        offset += static_cast<std::uint64_t>(got);
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1) return {};
    return HexOf(digest, length);
}
