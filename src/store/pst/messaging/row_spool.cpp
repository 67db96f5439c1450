#include "store/pst/messaging/row_spool.h"

#include <cerrno>

#include "platform/file_stream.h"
#include "store/pst/ltp/value_codec.h"
#include "store/pst/messaging/store_internals.h"

namespace pst::messaging {

Store::RowSpool::RowSpool() : file_(platform::OpenTemporaryStream()) {
    if (!file_) throw PstError("cannot create a temporary file for table rows");
}

Store::RowSpool::~RowSpool() { std::fclose(file_); }

// A stream must be positioned between a write and a read, but a seek also flushes the buffer
// (and, on a stream open for both, reads a buffer's worth back), so the stream is only moved when
// it is not already where the next row goes or comes from: rows are appended, and read, in runs.
// Until the row's reading or writing has worked (Settle), where the stream stands is unknown, so
// a row that failed half-way is followed by a seek.
bool Store::RowSpool::MoveTo(std::uint64_t at, Mode mode) {
    const bool there = mode_ == mode && position_ == at;
    mode_ = Mode::kUnknown;
    return there || std::fseek(file_, static_cast<long>(at), SEEK_SET) == 0;
}

void Store::RowSpool::Settle(std::uint64_t at, Mode mode) {
    mode_ = mode;
    position_ = at;
}

void Store::RowSpool::Append(std::uint32_t row_id, const Bytes& packed) {
    std::uint8_t head[8];
    ltp::StoreLe({head, 4}, row_id);
    ltp::StoreLe({head + 4, 4}, packed.size());
    if (!MoveTo(size_, Mode::kWriting) || std::fwrite(head, 1, 8, file_) != 8 ||
        std::fwrite(packed.data(), 1, packed.size(), file_) != packed.size())
        throw PstSystemError("cannot write the temporary table rows", errno);
    size_ += 8 + packed.size();
    Settle(size_, Mode::kWriting);
}

std::uint64_t Store::RowSpool::Read(std::uint64_t at, ltp::TableRow* row) {
    std::uint8_t head[8];
    if (!MoveTo(at, Mode::kReading) || std::fread(head, 1, 8, file_) != 8)
        throw PstError("cannot read the temporary table rows");
    const auto length = static_cast<std::uint32_t>(ltp::LoadLe({head + 4, 4}));
    if (length > size_ - at - 8) throw PstError("temporary table row out of bounds");
    Bytes packed(length);
    if (std::fread(packed.data(), 1, length, file_) != length) throw PstError("cannot read the temporary table rows");
    Settle(at + 8 + length, Mode::kReading);
    row->row_id = static_cast<std::uint32_t>(ltp::LoadLe({head, 4}));
    row->values = ltp::UnpackValues(packed);
    return at + 8 + length;
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
