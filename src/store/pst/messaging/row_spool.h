// Contents-table rows kept in an anonymous temporary file until the folder's table is written,
// each as its row id, its length and its packed values. A folder remembers only the stretches
// of the file that hold its rows (one while it is filled alone), so its memory does not grow
// with the messages it receives.
#pragma once

#include <cstdint>
#include <cstdio>
#include <utility>
#include <vector>

#include "store/pst/ltp/context.h"
#include "store/pst/messaging/store.h"

namespace pst::messaging {

class Store::RowSpool {
public:
    RowSpool();
    ~RowSpool();
    RowSpool(const RowSpool&) = delete;
    RowSpool& operator=(const RowSpool&) = delete;

    std::uint64_t size() const { return size_; }
    void Append(std::uint32_t row_id, const ltp::Bytes& packed);
    // Reads the row at `at` and returns where the next one starts.
    std::uint64_t Read(std::uint64_t at, ltp::TableRow* row);

private:
    enum class Mode { kUnknown, kWriting, kReading };
    // False when the stream could not be moved to at.
    bool MoveTo(std::uint64_t at, Mode mode);
    void Settle(std::uint64_t at, Mode mode);

    std::FILE* file_;
    std::uint64_t size_ = 0;
    // Where the stream stands and what it did last; kUnknown while a row is read or written and
    // after a failure (seek again).
    Mode mode_ = Mode::kUnknown;
    std::uint64_t position_ = 0;
};

// A folder's rows in the spool: stretches of the file, in row order.
struct SpooledRows {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> stretches;  // begin, end
    std::size_t count = 0;
};

// Reads a folder's spooled rows one after another.
class Store::ContentsCursor {
public:
    ContentsCursor(RowSpool& spool, const SpooledRows& rows) : spool_(spool), rows_(rows) {
        if (!rows_.stretches.empty()) at_ = rows_.stretches.front().first;
    }
    ltp::TableRow Next();

private:
    RowSpool& spool_;
    const SpooledRows& rows_;
    std::size_t stretch_ = 0;
    std::uint64_t at_ = 0;
};

}  // namespace pst::messaging
