// Writes a benchmark folder file: "small" (100,000 messages of 1-4 KB) or "large" (2,000
// messages of about 250 KB, 500 MB in all), and beside it OUTPUT.dbx.sizes: the size of every
// message text, one a line, for the file-writing baseline. COUNT, when given, takes the first
// COUNT messages of the corpus (the upload benchmark's 10,000).
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench/bench_corpus.h"
#include "tests/fixtures/dbx_builder.h"

int main(int argc, char** argv) {
    if ((argc != 3 && argc != 4) || (std::strcmp(argv[1], "small") != 0 && std::strcmp(argv[1], "large") != 0)) {
        std::fprintf(stderr, "usage: %s small|large OUTPUT.dbx [COUNT]\n", argv[0]);
        return 2;
    }
    const bench::Corpus corpus = std::strcmp(argv[1], "small") == 0 ? bench::Corpus::Small : bench::Corpus::Large;
    const std::string sizes_path = std::string(argv[2]) + ".sizes";
    std::FILE* sizes = std::fopen(sizes_path.c_str(), "w");
    if (sizes == nullptr) {
        std::perror(sizes_path.c_str());
        return 1;
    }
    const std::size_t count = argc == 4 ? std::strtoull(argv[3], nullptr, 10) : bench::MessageCount(corpus);
    fixtures::WriteDbxFile(argv[2], count, [&](std::size_t i) {
        fixtures::DbxEmailSpec spec;
        spec.subject = bench::MessageSubject(i);
        spec.sender_address = "sender" + std::to_string(i % 97) + "@example.com";
        spec.date = 128808448290000000ULL + i * 600000000ULL;
        spec.text = bench::MessageText(corpus, i);
        std::fprintf(sizes, "%zu\n", spec.text->size());
        return spec;
    });
    return std::fclose(sizes) == 0 ? 0 : 1;
}
