// The cost of not adding a message twice: pst_duplicate_bench FILE [N]. Writes a store with one
// folder of N messages (half with a Message-ID, half known by their content digest), then opens
// it again and times, apart: building the folder's set of messages (once, at the first add),
// offering all N messages again (every one is found, none added), and adding N new ones with
// the check against adding them without it.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "store/pst/messaging/store.h"

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

mapi::Message Typical(long i, const std::string& body) {
    mapi::Message m;
    m.props.Set(0x001A001F, std::string("IPM.Note"));
    m.props.Set(0x0037001F, "Benchmark message number " + std::to_string(i));
    m.props.Set(0x1000001F, body + std::to_string(i));
    m.props.Set(0x0C1A001F, std::string("Sender Name"));
    m.props.Set(0x0C1F001F, std::string("sender@example.com"));
    m.props.Set(0x00390040, mapi::Filetime{132223104000000000ull + static_cast<std::uint64_t>(i) * 10000000});
    if (i % 2 == 0) m.props.Set(0x1035001F, "<bench-" + std::to_string(i) + "@example.com>");
    mapi::Recipient r;
    r.props.Set(0x3001001F, std::string("Receiver"));
    r.props.Set(0x3003001F, std::string("receiver@example.com"));
    m.recipients.push_back(std::move(r));
    return m;
}

long PeakMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const long count = argc > 2 ? std::atol(argv[2]) : 100000;
    const std::string body(2000, 'x');
    auto start = Clock::now();
    {
        auto store = pst::messaging::Store::Create(argv[1], "Benchmark");
        auto folder = store->AddFolder(store->ipm_subtree(), "Inbox.dbx");
        for (long i = 0; i < count; ++i) store->AddMessage(folder, Typical(i, body));
        store->Close();
    }
    std::printf("write %ld messages: %.2f s\n", count, Since(start));

    auto store = pst::messaging::Store::Open(argv[1], true);
    const auto folder = *store->FindFolderByPath("Inbox.dbx");
    start = Clock::now();
    // The first offer builds the set: every message of the folder is read once.
    bool found = store->AddMessageUnlessPresent(folder, Typical(0, body)).already_there;
    const double build = Since(start);
    start = Clock::now();
    long already = found ? 1 : 0;
    for (long i = 1; i < count; ++i) already += store->AddMessageUnlessPresent(folder, Typical(i, body)).already_there;
    const double offer = Since(start);
    std::printf("build the set of %ld messages: %.2f s; offer all again: %.2f s (%.1f us each), %ld found\n", count,
                build, offer, offer * 1e6 / static_cast<double>(count), already);
    const long fresh = count / 10;
    start = Clock::now();
    for (long i = 0; i < fresh; ++i) store->AddMessageUnlessPresent(folder, Typical(count + i, body));
    const double checked = Since(start);
    start = Clock::now();
    for (long i = 0; i < fresh; ++i) store->AddMessage(folder, Typical(2 * count + i, body));
    const double unchecked = Since(start);
    std::printf("add %ld new messages with the check: %.2f s, without: %.2f s; peak RSS %ld MB\n", fresh, checked,
                unchecked, PeakMegabytes());
    store->Close();
    return already == count ? 0 : 1;
}
