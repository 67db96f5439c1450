#include <random>

#include <gtest/gtest.h>

#include "store/render/render.h"

namespace {
std::vector<std::uint8_t> FromHex(const std::string& hex) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 3) out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}
}  // namespace

TEST(RtfCompression, ReadsThePublishedExample) {
    // The worked example of the compressed RTF format description.
    const auto compressed = FromHex(
        "2d 00 00 00 2b 00 00 00 4c 5a 46 75 f1 c5 c7 a7 03 00 0a 00 72 63 70 67 31 32 35 42 32 0a f3 20 68 65 6c "
        "09 00 20 62 77 05 b0 6c 64 7d 0a 80 0f a0 ");
    EXPECT_EQ(render::DecompressRtf(compressed), "{\\rtf1\\ansi\\ansicpg1252\\pard hello world}\r\n");
}

TEST(RtfCompression, RoundTripsShortLongRepetitiveAndRandomText) {
    std::mt19937 rng(7);
    std::string random_bytes(20000, '\0');
    for (char& c : random_bytes) c = static_cast<char>(rng());
    std::string repetitive;
    while (repetitive.size() < 100000) repetitive += "{\\*\\htmltag64 <td class=\"x\">}\\htmlrtf cell\\htmlrtf0 ";
    for (const std::string& text : {std::string(), std::string("{"), std::string("{\\rtf1\\ansi\\pard hello}"),
                                    std::string(5000, 'a'), repetitive, random_bytes}) {
        const auto compressed = render::CompressRtf(text);
        EXPECT_EQ(render::DecompressRtf(compressed), text) << "size " << text.size();
    }
    EXPECT_LT(render::CompressRtf(repetitive).size(), repetitive.size() / 5);
}

TEST(RtfCompression, DamagedInputIsRefusedNotOverrun) {
    auto compressed = render::CompressRtf("{\\rtf1 some text that compresses some text}");
    auto tampered = compressed;
    tampered[20] ^= 0x55;
    EXPECT_THROW(render::DecompressRtf(tampered), std::runtime_error);  // CRC
    auto short_header = compressed;
    short_header.resize(10);
    EXPECT_THROW(render::DecompressRtf(short_header), std::runtime_error);
    auto oversize = compressed;
    oversize[0] = 0xFF;  // claims more bytes than there are
    EXPECT_THROW(render::DecompressRtf(oversize), std::runtime_error);
}
