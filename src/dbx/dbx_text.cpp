// Message texts: the chain of text blocks an email record points to.
#include <algorithm>
#include <array>
#include <limits>
#include <string>
#include <vector>

#include "dbx/dbx.h"
#include "dbx/dbx_format.h"
#include "dbx/dbx_internal.h"

namespace {

using dbx_format::TextBlockHeader;

// Detects a chain that comes back to a block it has passed (Brent's method): remembers the
// block at each power-of-two step and reports a revisit of it. A loop is seen within two turns
// of it; the steps taken then tell which blocks were read twice.
class LoopGuard {
public:
    // True when the block at step `step` is the remembered one.
    bool Revisits(std::uint32_t offset, std::size_t step) {
        if (offset == saved_) return true;
        if (++since_saved_ == limit_) {
            saved_ = offset;
            saved_step_ = step;
            since_saved_ = 0;
            limit_ *= 2;
        }
        return false;
    }
    std::size_t saved_step() const { return saved_step_; }

private:
    std::uint32_t saved_ = 0;  // 0 ends a chain, so it is never a block offset
    std::size_t saved_step_ = 0;
    std::uint64_t since_saved_ = 0;
    std::uint64_t limit_ = 1;
};

// The chain came back at step `step` to the block of step `saved_step`: the loop is
// step - saved_step blocks long. Returns how many of the steps read hold distinct blocks, that
// is where the first block read a second time was read.
std::size_t DistinctSteps(const std::vector<DbxChainStep>& steps, std::size_t saved_step, std::size_t step) {
    const std::size_t loop = step - saved_step;
    for (std::size_t first = 0; first + loop < steps.size(); ++first) {
        if (steps[first].offset == steps[first + loop].offset) return first + loop;
    }
    return steps.size();
}

// Sets the block's bit among the claimed ones; false when it was set already (another record,
// or this one earlier in a loop, holds the block). Blocks are at least 16 bytes long and never
// overlap in a sound file, so no two start in the same 16 bytes.
bool Claim(DbxReader& reader, std::uint32_t block) {
    std::vector<std::uint64_t>& bits = reader.claimed_blocks;
    const std::size_t cell = block / 16;
    if (bits.empty()) bits.assign(static_cast<std::size_t>(reader.file_size / 16 / 64) + 1, 0);
    if (cell / 64 >= bits.size()) return false;  // outside the file as it was opened
    const std::uint64_t bit = std::uint64_t{1} << (cell % 64);
    if ((bits[cell / 64] & bit) != 0) return false;
    bits[cell / 64] |= bit;
    return true;
}

}  // namespace

namespace dbx_internal {

// A chain that breaks off (a block outside the file, a short read, a negative length, a
// loop, a block another record holds) fails with code 7 but keeps the text of the blocks read
// completely before the break, each block once, if there is any: a truncated message is worth
// more to the user than none.
std::int32_t AssembleTextChain(DbxReader& reader, DbxEmail& email, std::uint32_t offset, bool claim) {
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
    std::vector<DbxChainStep>& steps = reader.chain_steps;
    steps.clear();
    for (std::uint32_t block = offset; !complete;) {
        if (loop_guard.Revisits(block, steps.size())) {
            const std::size_t distinct = DistinctSteps(steps, loop_guard.saved_step(), steps.size());
            text.resize(distinct == 0 ? 0 : steps[distinct - 1].text_end);
            break;
        }
        std::array<std::uint8_t, sizeof(TextBlockHeader)> raw{};
        if (!ReadAt(reader, block, raw.data(), raw.size())) break;
        const TextBlockHeader header = TextBlockHeader::Decode(raw.data());
        if (header.data_length < 0 || text.size() + std::uint64_t(header.data_length) > max_length) break;
        if (claim && !Claim(reader, block)) break;
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
        steps.push_back({block, static_cast<std::uint32_t>(text.size())});
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
    // A second read of the record's own text: the blocks it claimed are its own.
    return dbx_internal::AssembleTextChain(*reader, *email, static_cast<std::uint32_t>(email->text_offset), false);
}
