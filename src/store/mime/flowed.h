// Text bodies sent as format=flowed: lines that end in a blank are soft breaks the sending
// program made and that the reader's program joins again.
#pragma once

#include <string>
#include <string_view>

namespace mime {

// The paragraphs of a flowed text joined again: a line ending in a blank runs on into the next
// line of the same quote depth (the blank is dropped too when delete_space, for DelSp=yes);
// the blank that protects a leading blank, "From " or '>' is removed; the signature separator
// "-- " stays a line of its own; quoted lines keep one '>' per level followed by a blank. Line
// ends come out as CR LF.
std::string UnwrapFlowed(std::string_view text, bool delete_space);

}  // namespace mime
