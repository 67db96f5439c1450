#include <cstdio>

#include "dbx/dbx.h"

int dbx_errno = 0;

const char* const dbx_errors[9] = {
    "",
    "DBX File operation failed. Open or close",
    "Read of \"Item Count\" from DBX file failed",
    "Read of \"Index Pointer\" from DBX file failed",
    "Number of indexes read from dbx file is less than expected",
    "Number of indexes read from dbx file is greater than expected",
    "Request was made for index reference greater than exists (subscript out of range)",
    "Reading of data from dbx file failed",
    "Item is a news item not an email",
};

void dbx_perror(const char* prefix) {
    // dbx_errno is a plain global that callers may set; never index outside the table.
    const int code = dbx_errno >= 0 && dbx_errno <= 8 ? dbx_errno : 0;
    std::fprintf(stderr, "%s: %s\n", prefix != nullptr ? prefix : "", dbx_errors[code]);
}
