// Opening built folder files from memory and holding items, for the reader's tests.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "dbx/dbx.h"
#include "fixtures/dbx_builder.h"
#include "platform/file_stream.h"

namespace dbx_test {

struct FreeItem {
    void operator()(DbxItem* item) const { dbx_free(item); }
};
using EmailPtr = std::unique_ptr<DbxEmail, FreeItem>;
using ListEntryPtr = std::unique_ptr<DbxListEntry, FreeItem>;

// A stream that reads bytes: a memory stream (fmemopen) where the C library has one; on Windows,
// which has none, a temporary file holding them.
inline std::FILE* OpenBytes(std::string& bytes) {
#ifdef _WIN32
    std::FILE* stream = platform::OpenTemporaryStream();
    if (stream != nullptr && (std::fwrite(bytes.data(), 1, bytes.size(), stream) != bytes.size() || std::fseek(stream, 0, SEEK_SET) != 0)) {
        std::fclose(stream);
        return nullptr;
    }
    return stream;
#else
    return fmemopen(bytes.data(), bytes.size(), "rb");
#endif
}

// A reader over bytes in memory; reader() is null when the open failed (code in dbx_errno).
class MemoryDbx {
public:
    explicit MemoryDbx(std::string bytes, const DbxOpenOptions& options = {}) : bytes_(std::move(bytes)) {
        std::FILE* stream = OpenBytes(bytes_);
        if (stream == nullptr) return;
        reader_ = dbx_open_stream_with(stream, options);
        if (reader_ == nullptr) std::fclose(stream);
    }
    ~MemoryDbx() { dbx_close(reader_); }
    MemoryDbx(const MemoryDbx&) = delete;
    MemoryDbx& operator=(const MemoryDbx&) = delete;

    DbxReader* reader() const { return reader_; }
    EmailPtr Email(int slot) const { return EmailPtr(static_cast<DbxEmail*>(dbx_get(reader_, slot))); }
    ListEntryPtr ListEntry(int slot) const {
        return ListEntryPtr(static_cast<DbxListEntry*>(dbx_get(reader_, slot)));
    }

private:
    std::string bytes_;
    DbxReader* reader_ = nullptr;
};

// Opens bytes and returns dbx_errno, for the many failing-open cases.
inline int OpenFailureCode(std::string bytes) {
    dbx_errno = -1;
    MemoryDbx dbx(std::move(bytes));
    return dbx.reader() == nullptr ? dbx_errno : 0;
}

inline fixtures::DbxEmailSpec NumberedEmail(int i) {
    fixtures::DbxEmailSpec email;
    email.subject = "Subject " + std::to_string(i);
    email.sender_address = "sender" + std::to_string(i) + "@example.org";
    email.date = 0x01D7EF1328000000ull + static_cast<std::uint64_t>(i);
    email.text = "Subject: Subject " + std::to_string(i) + "\r\n\r\nBody " + std::to_string(i) + "\r\n";
    return email;
}

inline fixtures::DbxFileBuilder NumberedFolder(int count, int entries_per_node = 0x7F) {
    fixtures::DbxFileBuilder builder;
    builder.SetEntriesPerNode(entries_per_node);
    for (int i = 0; i < count; ++i) builder.AddEmail(NumberedEmail(i));
    return builder;
}

}  // namespace dbx_test
