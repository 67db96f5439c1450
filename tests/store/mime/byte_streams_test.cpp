#include "store/mime/byte_streams.h"

#include <gtest/gtest.h>

namespace {

struct Unref {
    void operator()(GMimeStream* stream) const { g_object_unref(stream); }
};
using Stream = std::unique_ptr<GMimeStream, Unref>;

std::string ReadAll(GMimeStream* stream) {
    std::string out;
    char buf[4];
    for (ssize_t n; (n = g_mime_stream_read(stream, buf, sizeof buf)) > 0;) out.append(buf, static_cast<std::size_t>(n));
    return out;
}

}  // namespace

// The parser relies on these: substreams see only their bounds, seeks stay inside them, lengths
// and resets are relative to them, and nothing can be written into borrowed bytes.
TEST(ByteStreams, BorrowedBytesAreReadWithinTheirBounds) {
    g_mime_init();
    const std::string bytes = "0123456789abcdef";
    Stream whole(mime::NewBorrowedStream(bytes));
    EXPECT_EQ(g_mime_stream_length(whole.get()), 16);
    EXPECT_EQ(ReadAll(whole.get()), bytes);
    EXPECT_TRUE(g_mime_stream_eos(whole.get()));
    EXPECT_EQ(g_mime_stream_write(whole.get(), "x", 1), -1);

    Stream sub(g_mime_stream_substream(whole.get(), 4, 10));
    EXPECT_EQ(g_mime_stream_length(sub.get()), 6);
    EXPECT_EQ(ReadAll(sub.get()), "456789");
    EXPECT_EQ(g_mime_stream_seek(sub.get(), 2, GMIME_STREAM_SEEK_SET), 6);
    EXPECT_EQ(ReadAll(sub.get()), "6789");
    EXPECT_EQ(g_mime_stream_seek(sub.get(), -1, GMIME_STREAM_SEEK_END), 9);
    EXPECT_EQ(ReadAll(sub.get()), "9");
    EXPECT_EQ(g_mime_stream_seek(sub.get(), 7, GMIME_STREAM_SEEK_SET), -1);   // past its end
    EXPECT_EQ(g_mime_stream_seek(sub.get(), -7, GMIME_STREAM_SEEK_CUR), -1);  // before its start
    EXPECT_EQ(g_mime_stream_reset(sub.get()), 0);
    EXPECT_EQ(ReadAll(sub.get()), "456789");
    // A bound beyond the bytes ends with them.
    Stream beyond(g_mime_stream_substream(whole.get(), 12, 100));
    EXPECT_EQ(ReadAll(beyond.get()), "cdef");

    Stream empty(mime::NewBorrowedStream({}));
    EXPECT_EQ(ReadAll(empty.get()), "");
    EXPECT_TRUE(g_mime_stream_eos(empty.get()));
}

TEST(ByteStreams, AppendStreamsFillTheirContainer) {
    g_mime_init();
    std::string text = "kept:";
    std::vector<std::uint8_t> binary;
    Stream to_text(mime::NewAppendStream(text));
    Stream to_binary(mime::NewAppendStream(binary));
    for (GMimeStream* s : {to_text.get(), to_binary.get()}) {
        EXPECT_EQ(g_mime_stream_write(s, "ab", 2), 2);
        EXPECT_EQ(g_mime_stream_write_string(s, "cde"), 3);
        char buf[2];
        EXPECT_EQ(g_mime_stream_read(s, buf, 2), -1);
    }
    EXPECT_EQ(text, "kept:abcde");
    EXPECT_EQ(std::string(binary.begin(), binary.end()), "abcde");
}
