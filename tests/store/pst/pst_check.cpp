// Runs the structural checker over PST files given on the command line: a debugging aid.
#include <cstdio>

#include "store/pst/messaging/checker.h"

int main(int argc, char** argv) {
    int rc = 0;
    for (int i = 1; i < argc; ++i) {
        auto report = pst::CheckPstFile(argv[i]);
        std::printf("%s: %s", argv[i], report.ToText().c_str());
        if (!report.ok()) rc = 1;
    }
    return rc;
}
