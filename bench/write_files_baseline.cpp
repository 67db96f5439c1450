// The baseline an EML export is measured against: create and write as many files, of the same
// sizes, as the export writes, each with one open, one write and one close, and nothing else.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s SIZES-FILE OUTPUT-DIR\n", argv[0]);
        return 2;
    }
    std::FILE* list = std::fopen(argv[1], "r");
    if (list == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    std::vector<std::size_t> sizes;
    std::size_t size = 0;
    std::size_t largest = 0;
    while (std::fscanf(list, "%zu", &size) == 1) {
        sizes.push_back(size);
        largest = std::max(largest, size);
    }
    std::fclose(list);
    const std::string content(largest, 'x');
    const std::string dir = argv[2];
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const std::string path = dir + "/" + std::to_string(i) + ".eml";
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (fd < 0 || ::write(fd, content.data(), sizes[i]) != static_cast<ssize_t>(sizes[i]) || ::close(fd) != 0) {
            std::perror(path.c_str());
            return 1;
        }
    }
    return 0;
}
