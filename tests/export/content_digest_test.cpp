// The digests that name sources in the manifest and in the destination's memories: they are
// stored, so they must stay SHA-256 as written before, whichever library computes them.
#include <gtest/gtest.h>

#include <string>

#include "export/content_digest.h"
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
