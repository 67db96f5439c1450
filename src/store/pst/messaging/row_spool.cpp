#include "store/pst/messaging/row_spool.h"

#include <cerrno>

#include "platform/file_stream.h"
#include "store/pst/ltp/value_codec.h"
#include "store/pst/messaging/store_internals.h"

namespace pst::messaging {

namespace {
void PutLe32(std::uint8_t* out, std::uint64_t value) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}
}  // namespace

Store::RowSpool::RowSpool() : file_(platform::OpenTemporaryStream()) {
    if (!file_) throw PstError("cannot create a temporary file for table rows");
}

Store::RowSpool::~RowSpool() { std::fclose(file_); }

// A stream must be positioned between a write and a read, but a seek also flushes the buffer
// (and, on a stream open for both, reads a buffer's worth back), so the stream is only moved when
// it is not already where the next row goes or comes from: rows are appended, and read, in runs.
void Store::RowSpool::MoveTo(std::uint64_t at, Mode mode) {
    if (mode_ == mode && position_ == at) return;
    mode_ = Mode::kUnknown;
    if (std::fseek(file_, static_cast<long>(at), SEEK_SET) != 0) return;
    mode_ = mode;
    position_ = at;
}

void Store::RowSpool::Append(std::uint32_t row_id, const Bytes& packed) {
    std::uint8_t head[8];
    PutLe32(head, row_id);
    PutLe32(head + 4, packed.size());
    MoveTo(size_, Mode::kWriting);
    if (mode_ != Mode::kWriting || std::fwrite(head, 1, 8, file_) != 8 ||
        std::fwrite(packed.data(), 1, packed.size(), file_) != packed.size()) {
        mode_ = Mode::kUnknown;
        throw PstSystemError("cannot write the temporary table rows", errno);
    }
    size_ += 8 + packed.size();
    position_ = size_;
}

std::uint64_t Store::RowSpool::Read(std::uint64_t at, ltp::TableRow* row) {
    std::uint8_t head[8];
    MoveTo(at, Mode::kReading);
    if (mode_ != Mode::kReading || std::fread(head, 1, 8, file_) != 8) {
        mode_ = Mode::kUnknown;
        throw PstError("cannot read the temporary table rows");
    }
    const auto length = static_cast<std::uint32_t>(ltp::LoadLe({head + 4, 4}));
    if (length > size_ - at - 8) {
        mode_ = Mode::kUnknown;
        throw PstError("temporary table row out of bounds");
    }
    Bytes packed(length);
    if (std::fread(packed.data(), 1, length, file_) != length) {
        mode_ = Mode::kUnknown;
        throw PstError("cannot read the temporary table rows");
    }
    position_ = at + 8 + length;
    row->row_id = static_cast<std::uint32_t>(ltp::LoadLe({head, 4}));
    row->values = ltp::UnpackValues(packed);
    return position_;
}

ltp::TableRow Store::ContentsCursor::Next() {
    while (stretch_ < rows_.stretches.size() && at_ >= rows_.stretches[stretch_].second)
        if (++stretch_ < rows_.stretches.size()) at_ = rows_.stretches[stretch_].first;
    if (stretch_ >= rows_.stretches.size()) throw PstError("fewer spooled rows than counted");
    ltp::TableRow row;
    at_ = spool_.Read(at_, &row);
    return row;
}

Store::RowSpool& Store::Spool() {
    if (!spool_) spool_ = std::make_unique<RowSpool>();
    return *spool_;
}

void Store::AppendContentsRow(Folder& f, std::uint32_t row_id, const Bytes& packed) {
    RowSpool& spool = Spool();
    const std::uint64_t at = spool.size();
    spool.Append(row_id, packed);
    auto& stretches = f.contents.stretches;
    if (!stretches.empty() && stretches.back().second == at) {
        stretches.back().second = spool.size();
    } else {
        stretches.emplace_back(at, spool.size());
    }
    ++f.contents.count;
}

}  // namespace pst::messaging
