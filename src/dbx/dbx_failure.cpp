#include "dbx/dbx_failure.h"

#include <cstdio>

#include "dbx/dbx.h"

int dbx_errno = 0;

const DbxFailureText dbx_failures[kDbxFailureKinds] = {
    {DbxFailure::None, "", "no error"},
    {DbxFailure::NotOpened, "DBX File operation failed. Open or close", "cannot be read"},
    {DbxFailure::ItemCountUnreadable, "Read of \"Item Count\" from DBX file failed", "is cut short or damaged"},
    {DbxFailure::IndexUnreadable, "Read of \"Index Pointer\" from DBX file failed", "is cut short or damaged"},
    {DbxFailure::IndexShort, "Number of indexes read from dbx file is less than expected",
     "has a damaged index of messages"},
    {DbxFailure::IndexLong, "Number of indexes read from dbx file is greater than expected",
     "has a damaged index of messages"},
    {DbxFailure::SlotOutOfRange, "Request was made for index reference greater than exists (subscript out of range)",
     "names a message the folder file does not hold"},
    {DbxFailure::DataUnreadable, "Reading of data from dbx file failed", "is cut short or damaged"},
    {DbxFailure::NewsItem, "Item is a news item not an email", "is a news article, not an e-mail"},
};

// The printed messages, as the reader's callers have always indexed them.
const char* const dbx_errors[9] = {
    dbx_failures[0].message, dbx_failures[1].message, dbx_failures[2].message,
    dbx_failures[3].message, dbx_failures[4].message, dbx_failures[5].message,
    dbx_failures[6].message, dbx_failures[7].message, dbx_failures[8].message,
};

const char* dbx_failure_words(int code) {
    if (code < 0 || code >= kDbxFailureKinds) return "cannot be read (unknown error)";
    return dbx_failures[code].words;
}

void dbx_perror(const char* prefix) {
    // dbx_errno is a plain global that callers may set; never index outside the table.
    const int code = dbx_errno >= 0 && dbx_errno < kDbxFailureKinds ? dbx_errno : 0;
    std::fprintf(stderr, "%s: %s\n", prefix != nullptr ? prefix : "", dbx_failures[code].message);
}
