// Writes N typical messages into one folder of a new store and reports the rate and peak memory:
// pst_write_bench FILE [N]. With "extend" after N the store at FILE exists and gains the folder
// through the checked working copy that replaces it.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "store/pst/messaging/extension.h"
#include "store/pst/messaging/store.h"

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const long count = argc > 2 ? std::atol(argv[2]) : 100000;
    const auto start = std::chrono::steady_clock::now();
    const bool extend = argc > 3 && std::string(argv[3]) == "extend";
    std::unique_ptr<pst::messaging::StoreExtension> extension;
    std::unique_ptr<pst::messaging::Store> created;
    if (extend) {
        extension = pst::messaging::StoreExtension::Begin(argv[1]);
    } else {
        created = pst::messaging::Store::Create(argv[1], "Benchmark");
    }
    auto* store = extend ? &extension->store() : created.get();
    auto folder = store->AddFolder(store->ipm_subtree(), "Inbox.dbx");
    std::string body(2000, 'x');
    for (long i = 0; i < count; ++i) {
        mapi::Message m;
        m.props.Set(0x001A001F, std::string("IPM.Note"));
        m.props.Set(0x0037001F, "Benchmark message number " + std::to_string(i));
        m.props.Set(0x1000001F, body);
        m.props.Set(0x0C1A001F, std::string("Sender Name"));
        m.props.Set(0x0C1F001F, std::string("sender@example.com"));
        m.props.Set(0x0E060040, mapi::Filetime{132223104000000000ull + static_cast<std::uint64_t>(i) * 10000000});
        mapi::Recipient r;
        r.props.Set(0x3001001F, std::string("Receiver"));
        r.props.Set(0x3003001F, std::string("receiver@example.com"));
        m.recipients.push_back(std::move(r));
        store->AddMessage(folder, m);
    }
    rusage before_close{};
    getrusage(RUSAGE_SELF, &before_close);
    std::printf("peak RSS before closing: %ld MB\n", before_close.ru_maxrss / 1024);
    if (extend) {
        extension->Commit();
    } else {
        store->Close();
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%ld messages in %.2f s: %.0f messages/s, peak RSS %ld MB\n", count, seconds, count / seconds,
                usage.ru_maxrss / 1024);
}
