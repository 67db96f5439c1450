// Text as a JSON string, for what programs read back: the manifest, the summary, store lists.
#pragma once

#include <string>

// value quoted and escaped: quotes, backslashes and control characters escaped, invalid UTF-8
// as U+FFFD, so that any text a sender or a disk chose gives valid JSON.
std::string JsonString(const std::string& value);
