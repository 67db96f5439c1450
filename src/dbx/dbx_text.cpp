// Message texts: the chain of text blocks an email record points to.
#include <algorithm>
#include <array>
#include <limits>
#include <string>

#include "dbx/dbx.h"
#include "dbx/dbx_format.h"
#include "dbx/dbx_internal.h"

namespace {

using dbx_format::TextBlockHeader;

// Detects a chain that comes back to a block it has passed (Brent's method): remembers the
// block at each power-of-two step and reports a revisit of it. Constant memory, and a loop is
// seen within two turns of it.
class LoopGuard {
public:
    bool Revisits(std::uint32_t offset) {
        if (offset == saved_) return true;
        if (++steps_ == limit_) {
            saved_ = offset;
            steps_ = 0;
            limit_ *= 2;
        }
        return false;
    }

private:
    std::uint32_t saved_ = 0;  // 0 ends a chain, so it is never a block offset
    std::uint64_t steps_ = 0;
    std::uint64_t limit_ = 1;
};

}  // namespace

namespace dbx_internal {

// A chain that breaks off (a block outside the file, a short read, a negative length, a
// loop) fails with code 7 but keeps the text of the blocks read completely before the
// break, if there is any: a truncated message is worth more to the user than none.
std::int32_t AssembleTextChain(DbxReader& reader, DbxEmail& email, std::uint32_t offset) {
    email.message_text.reset();
    email.text_complete = offset == 0;
    if (offset == 0) return 0;

    // Distinct blocks hold distinct bytes of the file, so a longer text can only come from
    // blocks read twice.
    const std::uint64_t max_length =
        std::min<std::uint64_t>(static_cast<std::uint64_t>(reader.file_size), std::numeric_limits<std::int32_t>::max());
    std::string text;
    bool complete = false;
    LoopGuard loop_guard;
    for (std::uint32_t block = offset; !complete;) {
        std::array<std::uint8_t, sizeof(TextBlockHeader)> raw{};
        if (loop_guard.Revisits(block) || !ReadAt(reader, block, raw.data(), raw.size())) break;
        const TextBlockHeader header = TextBlockHeader::Decode(raw.data());
        if (header.data_length < 0 || text.size() + std::uint64_t(header.data_length) > max_length) break;
        const std::size_t length_so_far = text.size();
        const auto length = std::size_t(header.data_length);
        const std::uint64_t data_at = std::uint64_t{block} + sizeof(TextBlockHeader);
        // append and resize grow the capacity geometrically, so a long chain costs amortised
        // linear time; most blocks are copied straight from the read window.
        if (const char* data = PeekAt(reader, data_at, length)) {
            text.append(data, length);
        } else {
            text.resize(length_so_far + length);
            if (!ReadAt(reader, data_at, text.data() + length_so_far, length)) {
                text.resize(length_so_far);
                break;
            }
        }
        complete = header.next_block == 0;
        block = header.next_block;
    }
    const auto length = static_cast<std::int32_t>(text.size());
    if (complete || !text.empty()) email.message_text = std::move(text);
    if (!complete) {
        dbx_errno = 7;
        return -1;
    }
    email.text_complete = true;
    return length;
}

}  // namespace dbx_internal

std::int32_t dbx_read_text(DbxReader* reader, DbxEmail* email) {
    if (reader == nullptr || reader->stream == nullptr) {
        dbx_errno = 1;
        return -1;
    }
    if (email == nullptr) {
        dbx_errno = 7;
        return -1;
    }
    if (email->text_offset == -1) {
        email->message_text.reset();
        dbx_errno = 7;
        return -1;
    }
    return dbx_internal::AssembleTextChain(*reader, *email, static_cast<std::uint32_t>(email->text_offset));
}
