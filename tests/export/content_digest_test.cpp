// The digests that name sources in the manifest and in the destination's memories: they are
// stored, so they must stay SHA-256 as written before, whichever library computes them.
#include <gtest/gtest.h>

#include <string>

#include "export/content_digest.h"
#include "export/written_messages.h"
#include "fixtures/temp_folder.h"

TEST(ContentDigest, KnownDigestsAndAFileReadInPiecesAgreeWithItsBytes) {
    EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Sha256Hex(std::string(1000000, 'a')), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    fixtures::TempFolder dir;
    std::string bytes;
    for (std::size_t i = 0; bytes.size() < (3u << 20) + 7; ++i) bytes += static_cast<char>(i * 131 % 251);
    fixtures::WriteFile(dir / "Inbox.dbx", bytes);
    EXPECT_EQ(FileSha256Hex(dir / "Inbox.dbx"), Sha256Hex(bytes));
    EXPECT_EQ(FileSha256Hex(dir / "missing.dbx"), "");
}

// A message's key is stored in the destination's memory: the header values it is made of come
// from the header block only (never from a line of the body), folded lines joined.
TEST(ContentDigest, MessageKeysReadTheHeaderBlockOnly) {
    const struct {
        const char* text;
        const char* key;
    } cases[] = {
        {"Message-ID: <a@b>\r\nDate: Mon, 1 Jan 2001 00:00:00 +0000\r\nSubject: Hi\r\n\r\nSubject: body\r\n",
         "23e2d7361e5ccab26f23d2d06ec3a74e9812bfdf4dae3d3058fa3482303cbbb7"},
        {"Message-ID: <x@y>\nSubject: Long\n  part\n\nDate: Mon, 1 Jan 2001 00:00:00 +0000\n",
         "ed030490e1a4335e40154ca00009f992bfe8c6345e4fdef742980e3d3a6ecb90"},
        {"Message-ID: <m@n>\r\nSubject: end", "7bba6e1c58e2aa86af5a132c687afae8b19fd4d1f4194b73b54acf561ef33361"},
        {"Subject: s\n\nMessage-ID: <late@x>\n", "0f7163300484369fcb746a1e410cfafb4086aeb25748d4dd98cbcb92ae533bbb"},
    };
    for (const auto& c : cases) EXPECT_EQ(WrittenMessages::KeyOf(c.text), c.key) << c.text;
    EXPECT_EQ(Sha256Hex("ab", "c"), Sha256Hex("abc"));
}
