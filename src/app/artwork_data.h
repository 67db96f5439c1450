// The artwork PNGs, compiled into the program.
#pragma once

#include <cstddef>

struct ArtworkFile {
    const char* name;
    const unsigned char* data;
    std::size_t size;
};

extern const ArtworkFile kArtworkFiles[];
extern const std::size_t kArtworkFileCount;
