// A writer of compound files (version 3, 512-byte sectors): a tree of storages and streams built
// in memory and written out in one pass, so no stream is ever open while another grows.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace cfb {

class WriteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Names are limited to 31 UTF-16 code units and may not hold '/', '\', ':' or '!'.
class Storage {
public:
    explicit Storage(std::u16string name) : name_(std::move(name)) {}

    // Both throw std::invalid_argument for a bad or duplicate name.
    Storage& AddStorage(const std::string& name);
    void AddStream(const std::string& name, std::vector<std::uint8_t> data);
    // A stream whose bytes stay where they are (a large attachment is not copied): they must
    // outlive the storage.
    void AddBorrowedStream(const std::string& name, std::span<const std::uint8_t> data);

    struct Stream {
        std::u16string name;
        std::vector<std::uint8_t> owned;
        const std::uint8_t* borrowed = nullptr;  // set: the bytes are borrowed_size bytes there
        std::size_t borrowed_size = 0;
        std::span<const std::uint8_t> bytes() const {
            return borrowed != nullptr ? std::span<const std::uint8_t>(borrowed, borrowed_size)
                                       : std::span<const std::uint8_t>(owned);
        }
    };
    const std::u16string& name() const { return name_; }
    const std::vector<std::unique_ptr<Storage>>& storages() const { return storages_; }
    const std::vector<Stream>& streams() const { return streams_; }

private:
    // Throws for a bad name or one a child has already; else notes its fingerprint.
    void ClaimName(const std::u16string& name);

    std::u16string name_;
    // A fingerprint of each child's upper-cased name (its end and its length): a message's
    // storage holds dozens of streams, and comparing each new name in full with every earlier one
    // cost more than laying out the file. Names are compared in full only where fingerprints agree.
    std::vector<std::uint64_t> name_fingerprints_;
    std::vector<std::unique_ptr<Storage>> storages_;
    std::vector<Stream> streams_;
};

// The root storage of a new file ("Root Entry").
Storage MakeRootStorage();

// The bytes of the whole file; throws WriteError for a tree the format cannot hold.
std::string CompoundFileBytes(const Storage& root);
// The same bytes handed to write in pieces, in order, the streams' bytes straight from where
// they are kept, so that a file of any size is never held whole. Stops as soon as write returns
// false and returns false then; throws WriteError for a tree the format cannot hold.
bool WriteCompoundFile(const Storage& root, const std::function<bool(std::string_view)>& write);
// Writes the file; throws WriteError on any failed write (the caller removes the file).
void WriteCompoundFile(const Storage& root, std::FILE* out);
// Writes to path, replacing a file there; on failure removes what it wrote and throws WriteError.
void WriteCompoundFile(const Storage& root, const std::string& path);

// The order of siblings in a directory tree: shorter names first, then by upper-cased code units.
int CompareEntryNames(const std::u16string& a, const std::u16string& b);

}  // namespace cfb
