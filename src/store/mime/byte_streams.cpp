#include "store/mime/byte_streams.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// One type for both directions: a borrowed run of bytes to read, or a container to append to.
struct ByteStream {
    GMimeStream parent;
    const char* data;
    gint64 size;
    std::string* text;
    std::vector<std::uint8_t>* binary;
};

struct ByteStreamClass {
    GMimeStreamClass parent_class;
};

GType byte_stream_get_type();

ByteStream* AsByteStream(GMimeStream* stream) { return reinterpret_cast<ByteStream*>(stream); }

// The end of what the stream may read: its bound, or the end of the bytes.
gint64 EndOf(GMimeStream* stream) {
    const gint64 size = AsByteStream(stream)->size;
    return stream->bound_end == -1 ? size : std::min(stream->bound_end, size);
}

ssize_t StreamRead(GMimeStream* stream, char* buf, size_t len) {
    ByteStream* self = AsByteStream(stream);
    if (self->data == nullptr) {
        errno = EBADF;
        return -1;
    }
    const gint64 end = EndOf(stream);
    if (stream->position >= end) return 0;
    const std::size_t n = static_cast<std::size_t>(std::min<gint64>(end - stream->position, static_cast<gint64>(len)));
    std::memcpy(buf, self->data + stream->position, n);
    stream->position += static_cast<gint64>(n);
    return static_cast<ssize_t>(n);
}

ssize_t StreamWrite(GMimeStream* stream, const char* buf, size_t len) {
    ByteStream* self = AsByteStream(stream);
    if (self->text != nullptr)
        self->text->append(buf, len);
    else if (self->binary != nullptr)
        self->binary->insert(self->binary->end(), reinterpret_cast<const std::uint8_t*>(buf),
                             reinterpret_cast<const std::uint8_t*>(buf) + len);
    else {
        errno = EBADF;
        return -1;
    }
    stream->position += static_cast<gint64>(len);
    return static_cast<ssize_t>(len);
}

int StreamFlush(GMimeStream*) { return 0; }
int StreamClose(GMimeStream*) { return 0; }

gboolean StreamEos(GMimeStream* stream) {
    return AsByteStream(stream)->data == nullptr ? FALSE : stream->position >= EndOf(stream);
}

int StreamReset(GMimeStream* stream) {
    if (AsByteStream(stream)->data == nullptr) return -1;
    stream->position = stream->bound_start;
    return 0;
}

gint64 StreamSeek(GMimeStream* stream, gint64 offset, GMimeSeekWhence whence) {
    if (AsByteStream(stream)->data == nullptr) {
        errno = ESPIPE;
        return -1;
    }
    gint64 target = 0;
    switch (whence) {
        case GMIME_STREAM_SEEK_SET: target = stream->bound_start + offset; break;
        case GMIME_STREAM_SEEK_CUR: target = stream->position + offset; break;
        case GMIME_STREAM_SEEK_END: target = EndOf(stream) + offset; break;
        default: errno = EINVAL; return -1;
    }
    // Nothing can be written, so there is nothing past the end to seek to.
    if (target < stream->bound_start || target > EndOf(stream)) {
        errno = EINVAL;
        return -1;
    }
    stream->position = target;
    return target;
}

gint64 StreamTell(GMimeStream* stream) { return stream->position; }

gint64 StreamLength(GMimeStream* stream) {
    if (AsByteStream(stream)->data == nullptr) return -1;
    return EndOf(stream) - stream->bound_start;
}

GMimeStream* NewReading(const char* data, gint64 size, gint64 start, gint64 end) {
    auto* self = static_cast<ByteStream*>(g_object_new(byte_stream_get_type(), nullptr));
    self->data = data;
    self->size = size;
    g_mime_stream_construct(&self->parent, start, end);
    return &self->parent;
}

GMimeStream* StreamSubstream(GMimeStream* stream, gint64 start, gint64 end) {
    ByteStream* self = AsByteStream(stream);
    if (self->data == nullptr) return nullptr;
    return NewReading(self->data, self->size, start, end);
}

GMimeStream* NewAppending(std::string* text, std::vector<std::uint8_t>* binary) {
    auto* self = static_cast<ByteStream*>(g_object_new(byte_stream_get_type(), nullptr));
    self->text = text;
    self->binary = binary;
    g_mime_stream_construct(&self->parent, 0, -1);
    return &self->parent;
}

void ClassInit(gpointer klass, gpointer) {
    auto* stream_class = static_cast<GMimeStreamClass*>(klass);
    stream_class->read = StreamRead;
    stream_class->write = StreamWrite;
    stream_class->flush = StreamFlush;
    stream_class->close = StreamClose;
    stream_class->eos = StreamEos;
    stream_class->reset = StreamReset;
    stream_class->seek = StreamSeek;
    stream_class->tell = StreamTell;
    stream_class->length = StreamLength;
    stream_class->substream = StreamSubstream;
}

void InstanceInit(GTypeInstance* instance, gpointer) {
    auto* self = reinterpret_cast<ByteStream*>(instance);
    self->data = nullptr;
    self->size = 0;
    self->text = nullptr;
    self->binary = nullptr;
}

GType byte_stream_get_type() {
    static const GType type = [] {
        GTypeInfo info{};
        info.class_size = sizeof(ByteStreamClass);
        info.class_init = ClassInit;
        info.instance_size = sizeof(ByteStream);
        info.instance_init = InstanceInit;
        return g_type_register_static(GMIME_TYPE_STREAM, "OmbrikByteStream", &info, GTypeFlags(0));
    }();
    return type;
}

}  // namespace

namespace mime {

GMimeStream* NewBorrowedStream(std::string_view bytes) {
    // An empty run still needs an address to tell a reading stream from an appending one.
    static const char kNothing = 0;
    return NewReading(bytes.empty() ? &kNothing : bytes.data(), static_cast<gint64>(bytes.size()), 0, -1);
}

GMimeStream* NewAppendStream(std::string& out) { return NewAppending(&out, nullptr); }
GMimeStream* NewAppendStream(std::vector<std::uint8_t>& out) { return NewAppending(nullptr, &out); }

}  // namespace mime
