// The entries of a B-tree (nodes or blocks) while a store is open, kept in key order.
//
// A store of a million messages has some five million blocks; holding their entries in memory
// would make memory grow with every message converted. Only the newest entries stay in memory:
// once there are `memory_limit` of them they go to a temporary file as one sorted run. Runs of
// like size are merged as they accumulate, so there are only logarithmically many, and a lookup
// reads at most one small chunk of each run whose key range holds the key. A change to an entry
// that already sits in a run is recorded in memory as a newer version (a removal as a marker),
// and the newest version wins wherever the entry is looked up or visited.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <type_traits>
#include <vector>

#include "platform/random_access_file.h"

namespace pst::ndb {

// An unnamed temporary file; closed and gone with the object.
class RunFile {
public:
    RunFile();
    RunFile(const RunFile&) = delete;
    RunFile& operator=(const RunFile&) = delete;

    void Append(const void* data, std::size_t size) { WriteAt(size_, data, size); }
    void WriteAt(std::uint64_t offset, const void* data, std::size_t size);
    void ReadAt(std::uint64_t offset, void* data, std::size_t size) const;
    std::uint64_t size() const { return size_; }

private:
    platform::RandomAccessFile file_;
    std::uint64_t size_ = 0;
};

// Entry must be trivially copyable; IndexKey(entry) gives its key and SetIndexKey(entry, key)
// sets it.
template <typename Entry>
class EntryIndex {
    static_assert(std::is_trivially_copyable_v<Entry>);

public:
    static constexpr std::size_t kDefaultMemoryLimit = 1 << 15;

    explicit EntryIndex(std::size_t memory_limit = kDefaultMemoryLimit)
        : memory_limit_(std::max<std::size_t>(memory_limit, 2)) {}

    std::size_t size() const { return size_; }
    std::size_t run_count() const { return runs_.size(); }

    std::optional<Entry> Find(std::uint64_t key) const {
        auto it = MemoryPosition(key);
        if (it != memory_.end() && IndexKey(it->entry) == key) return Live(*it);
        if (auto slot = FindInRuns(key)) return Live(*slot);
        return std::nullopt;
    }

    // Adds the entry, or replaces the one with the same key.
    void Put(const Entry& entry) {
        const std::uint64_t key = IndexKey(entry);
        if (memory_.empty() || IndexKey(memory_.back().entry) < key) {
            if (!HeldInRuns(key)) ++size_;
            memory_.push_back({entry, 0});
        } else {
            auto it = MemoryPosition(key);
            if (it != memory_.end() && IndexKey(it->entry) == key) {
                if (it->removed) ++size_;
                *it = {entry, 0};
            } else {
                if (!HeldInRuns(key)) ++size_;
                memory_.insert(it, {entry, 0});
            }
        }
        SpillWhenFull();
    }

    // Removes the entry with this key; false when there is none.
    bool Remove(std::uint64_t key) {
        auto it = MemoryPosition(key);
        const bool in_memory = it != memory_.end() && IndexKey(it->entry) == key;
        if (in_memory && it->removed) return false;
        const bool in_runs = HeldInRuns(key);
        if (!in_memory && !in_runs) return false;
        --size_;
        if (!in_runs) {
            memory_.erase(it);
            return true;
        }
        Entry marker{};
        SetIndexKey(marker, key);
        if (in_memory) {
            *it = {marker, 1};
        } else {
            memory_.insert(it, {marker, 1});
        }
        SpillWhenFull();
        return true;
    }

    // Visits every entry in key order. The index must not change during the visit.
    template <typename Fn>
    void ForEach(Fn&& fn) const {
        std::vector<Cursor> sources;  // oldest first, memory last
        for (const auto& run : runs_) sources.emplace_back(&run, nullptr);
        sources.emplace_back(nullptr, &memory_);
        for (;;) {
            const Slot* lowest = nullptr;
            for (auto it = sources.rbegin(); it != sources.rend(); ++it) {
                const Slot* s = it->Current();
                if (s && (!lowest || IndexKey(s->entry) < IndexKey(lowest->entry))) lowest = s;
            }
            if (!lowest) return;
            const Slot chosen = *lowest;  // the newest version: sources are scanned newest first
            const std::uint64_t key = IndexKey(chosen.entry);
            for (auto& source : sources) {
                const Slot* s = source.Current();
                if (s && IndexKey(s->entry) == key) source.Advance();
            }
            if (!chosen.removed) fn(chosen.entry);
        }
    }

private:
    struct Slot {
        Entry entry;
        std::uint64_t removed;
    };
    static constexpr std::size_t kChunk = 128;  // slots read at once from a run

    struct Run {
        std::unique_ptr<RunFile> file;
        std::uint64_t count = 0;
        std::uint64_t first = 0, last = 0;
        std::vector<std::uint64_t> chunk_keys;  // first key of each chunk
        std::uint64_t serial = 0;
    };

    // Reads one source in order: a run through a small buffer, or the memory part.
    class Cursor {
    public:
        Cursor(const Run* run, const std::vector<Slot>* memory) : run_(run), memory_(memory) { Fill(); }
        const Slot* Current() const { return at_ < buffer_end_ ? Base() + at_ : nullptr; }
        void Advance() {
            if (++at_ == buffer_end_ && run_) Fill();
        }

    private:
        const Slot* Base() const { return run_ ? buffer_.data() : memory_->data(); }
        void Fill() {
            if (!run_) {
                at_ = 0;
                buffer_end_ = memory_->size();
                return;
            }
            const std::uint64_t n = std::min<std::uint64_t>(kChunk * 8, run_->count - next_);
            buffer_.resize(n);
            if (n) run_->file->ReadAt(next_ * sizeof(Slot), buffer_.data(), n * sizeof(Slot));
            next_ += n;
            at_ = 0;
            buffer_end_ = n;
        }
        const Run* run_;
        const std::vector<Slot>* memory_;
        std::vector<Slot> buffer_;
        std::uint64_t next_ = 0;
        std::size_t at_ = 0, buffer_end_ = 0;
    };

    static std::optional<Entry> Live(const Slot& s) {
        if (s.removed) return std::nullopt;
        return s.entry;
    }

    typename std::vector<Slot>::iterator MemoryPosition(std::uint64_t key) {
        return std::lower_bound(memory_.begin(), memory_.end(), key,
                                [](const Slot& s, std::uint64_t k) { return IndexKey(s.entry) < k; });
    }
    typename std::vector<Slot>::const_iterator MemoryPosition(std::uint64_t key) const {
        return std::lower_bound(memory_.begin(), memory_.end(), key,
                                [](const Slot& s, std::uint64_t k) { return IndexKey(s.entry) < k; });
    }

    bool HeldInRuns(std::uint64_t key) const {
        auto slot = FindInRuns(key);
        return slot && !slot->removed;
    }

    std::optional<Slot> FindInRuns(std::uint64_t key) const {
        for (auto run = runs_.rbegin(); run != runs_.rend(); ++run) {
            if (run->count == 0 || key < run->first || key > run->last) continue;
            auto chunk = std::upper_bound(run->chunk_keys.begin(), run->chunk_keys.end(), key);
            const std::size_t c = static_cast<std::size_t>(chunk - run->chunk_keys.begin()) - 1;
            const std::vector<Slot>& slots = LoadChunk(*run, c);
            auto it = std::lower_bound(slots.begin(), slots.end(), key,
                                       [](const Slot& s, std::uint64_t k) { return IndexKey(s.entry) < k; });
            if (it != slots.end() && IndexKey(it->entry) == key) return *it;
        }
        return std::nullopt;
    }

    // Lookups tend to come in key order, so the last chunk read is kept.
    const std::vector<Slot>& LoadChunk(const Run& run, std::size_t c) const {
        if (cached_serial_ != run.serial || cached_chunk_ != c) {
            const std::uint64_t begin = std::uint64_t{c} * kChunk;
            const std::uint64_t n = std::min<std::uint64_t>(kChunk, run.count - begin);
            cache_.resize(n);
            run.file->ReadAt(begin * sizeof(Slot), cache_.data(), n * sizeof(Slot));
            cached_serial_ = run.serial;
            cached_chunk_ = c;
        }
        return cache_;
    }

    // Writes slots out as a run, recording the first key of every chunk.
    class RunWriter {
    public:
        explicit RunWriter(std::uint64_t serial) {
            run_.file = std::make_unique<RunFile>();
            run_.serial = serial;
        }
        void Add(const Slot& s) {
            const std::uint64_t key = IndexKey(s.entry);
            if (run_.count % kChunk == 0) run_.chunk_keys.push_back(key);
            if (run_.count == 0) run_.first = key;
            run_.last = key;
            ++run_.count;
            pending_.push_back(s);
            if (pending_.size() == kChunk * 8) Drain();
        }
        Run Finish() {
            Drain();
            return std::move(run_);
        }

    private:
        void Drain() {
            if (!pending_.empty()) run_.file->Append(pending_.data(), pending_.size() * sizeof(Slot));
            pending_.clear();
        }
        Run run_;
        std::vector<Slot> pending_;
    };

    void SpillWhenFull() {
        if (memory_.size() < memory_limit_) return;
        RunWriter writer(++serial_);
        for (const auto& s : memory_) writer.Add(s);
        runs_.push_back(writer.Finish());
        memory_.clear();
        // Merging the newest run into the one before while it is as large keeps the runs'
        // sizes falling geometrically: few runs, and every entry rewritten a few times only.
        while (runs_.size() >= 2 && runs_.back().count >= runs_[runs_.size() - 2].count) MergeLastTwo();
    }

    void MergeLastTwo() {
        const bool all = runs_.size() == 2;  // nothing older for a removal marker to hide
        Cursor older(&runs_[runs_.size() - 2], nullptr), newer(&runs_.back(), nullptr);
        RunWriter writer(++serial_);
        for (;;) {
            const Slot* a = older.Current();
            const Slot* b = newer.Current();
            if (!a && !b) break;
            Slot next;
            if (b && (!a || IndexKey(b->entry) <= IndexKey(a->entry))) {
                if (a && IndexKey(a->entry) == IndexKey(b->entry)) older.Advance();
                next = *b;
                newer.Advance();
            } else {
                next = *a;
                older.Advance();
            }
            if (!(all && next.removed)) writer.Add(next);
        }
        runs_.pop_back();
        runs_.back() = writer.Finish();
    }

    std::size_t memory_limit_;
    std::size_t size_ = 0;
    std::vector<Slot> memory_;  // sorted by key
    std::vector<Run> runs_;     // oldest first
    std::uint64_t serial_ = 0;
    mutable std::vector<Slot> cache_;
    mutable std::uint64_t cached_serial_ = 0;
    mutable std::size_t cached_chunk_ = 0;
};

}  // namespace pst::ndb
