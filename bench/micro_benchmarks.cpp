// The per-message hot paths, each on its own: naming a file, quoting a body into an MBOX
// stream, fetching items from a folder file, and the stages of an MSG or PST message (MIME
// import, MSG layout, the store's encoding and its write).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_corpus.h"
#include "dbx/dbx.h"
#include "dbx/dbx_scan.h"
#include "export/buffered_output.h"
#include "export/content_digest.h"
#include "export/mbox_export.h"
#include "export/output_naming.h"
#include "platform/paths.h"
#include "store/mail_item.h"
#include "store/mapi/prop_tags.h"
#include "store/msg_file_mail.h"
#include "store/pst/messaging/store.h"
#include "tests/fixtures/dbx_builder.h"

namespace {

void BM_MessageFileNameAscii(benchmark::State& state) {
    const std::optional<std::string> subject = bench::MessageSubject(12345);
    for (auto _ : state) benchmark::DoNotOptimize(MakeMessageFileName(subject, 12345, "windows-1252"));
}
BENCHMARK(BM_MessageFileNameAscii);

void BM_MessageFileNameLegacy(benchmark::State& state) {
    const std::optional<std::string> subject = std::string("\xCF\xF0\xE8\xE2\xE5\xF2: \xEE\xF2\xF7\xE5\xF2 <Q3>");
    for (auto _ : state) benchmark::DoNotOptimize(MakeMessageFileName(subject, 12345, "windows-1251"));
}
BENCHMARK(BM_MessageFileNameLegacy);

void BM_WriteMboxBody(benchmark::State& state) {
    const std::string text = bench::MessageText(bench::Corpus::Large, 7);
    BufferedOutput out;
    out.Open("/dev/null");
    for (auto _ : state) WriteMboxBody(text, out);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_WriteMboxBody);

void BM_DbxGetSmallMessages(benchmark::State& state) {
    platform::PrivateTempDir dir;
    const std::string path = platform::JoinPath(dir.path(), "bench.dbx");
    const std::size_t count = 5000;
    fixtures::WriteDbxFile(path, count, [](std::size_t i) {
        fixtures::DbxEmailSpec spec;
        spec.subject = bench::MessageSubject(i);
        spec.text = bench::MessageText(bench::Corpus::Small, i);
        return spec;
    });
    std::size_t bytes = 0;
    for (auto _ : state) {
        DbxReader* reader = dbx_open(path.c_str());
        for (std::int32_t slot = reader->item_count - 1; slot >= 0; --slot) {
            DbxItem* item = dbx_get(reader, slot);
            bytes += static_cast<DbxEmail*>(item)->message_text->size();
            dbx_free(item);
        }
        dbx_close(reader);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * count));
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_DbxGetSmallMessages)->Unit(benchmark::kMillisecond);

// The large benchmark folder named by OMBRIK_BENCH_DBX (made by ombrik-bench-make-dbx, best on a
// tmpfs), else 200 of its messages (53 MB) written into dir.
std::string LargeFolderFile(const platform::PrivateTempDir& dir) {
    if (const char* given = std::getenv("OMBRIK_BENCH_DBX")) return given;
    const std::string path = platform::JoinPath(dir.path(), "bench.dbx");
    fixtures::WriteDbxFile(path, 200, [](std::size_t i) {
        fixtures::DbxEmailSpec spec;
        spec.subject = bench::MessageSubject(i);
        spec.text = bench::MessageText(bench::Corpus::Large, i);
        return spec;
    });
    return path;
}

// The scan for message texts over a whole folder file. Every message is reachable through the
// index, so this is what a recovery pass costs on an intact folder: the read of every byte plus
// the chains.
void BM_DbxScanFolder(benchmark::State& state) {
    platform::PrivateTempDir dir;
    const std::string path = LargeFolderFile(dir);
    const auto file_size = static_cast<std::int64_t>(std::filesystem::file_size(path));
    std::size_t blocks = 0;
    for (auto _ : state) {
        DbxReader* reader = dbx_open_with(path.c_str(), DbxCountCheck::TreeIsTruth);
        DbxScan* scan = dbx_scan(reader, true);
        blocks = dbx_scan_stats(scan).blocks;
        benchmark::DoNotOptimize(dbx_scan_count(scan));
        dbx_scan_free(scan);
        dbx_close(reader);
    }
    state.counters["blocks"] = static_cast<double>(blocks);
    state.SetBytesProcessed(state.iterations() * file_size);
}
BENCHMARK(BM_DbxScanFolder)->Unit(benchmark::kMillisecond)->UseRealTime();

// The SHA-256 by which a destination remembers a folder file, read whole: every EML and MBOX run
// pays it once per folder file, on a thread beside the conversion. A single SHA-256 cannot be
// split across cores, so for a large folder it bounds the run's time from below.
void BM_FolderFileDigest(benchmark::State& state) {
    platform::PrivateTempDir dir;
    const std::string path = LargeFolderFile(dir);
    const auto file_size = static_cast<std::int64_t>(std::filesystem::file_size(path));
    for (auto _ : state) benchmark::DoNotOptimize(FileSha256Hex(path));
    state.SetBytesProcessed(state.iterations() * file_size);
}
BENCHMARK(BM_FolderFileDigest)->Unit(benchmark::kMillisecond)->UseRealTime();

// The small messages of the benchmark folder, cycled through.
const std::string& SmallMessage(std::size_t i) {
    static const std::vector<std::string> texts = [] {
        std::vector<std::string> out;
        for (std::size_t k = 0; k < 64; ++k) out.push_back(bench::MessageText(bench::Corpus::Small, k));
        return out;
    }();
    return texts[i % texts.size()];
}

void BM_MimeImportSmallMessage(benchmark::State& state) {
    std::size_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(store::MessageFromRfc822(SmallMessage(i++)));
}
BENCHMARK(BM_MimeImportSmallMessage);

void BM_MsgLayoutSmallMessage(benchmark::State& state) {
    const mapi::Message model = store::MessageFromRfc822(SmallMessage(3));
    for (auto _ : state) benchmark::DoNotOptimize(store::MsgFileBytes(model));
}
BENCHMARK(BM_MsgLayoutSmallMessage);

// The store's encoding of a message (what runs ahead on the workers) and the add of an encoded
// one (what stays on the writer), into a new store in a temporary folder.
void BM_PstPrepareSmallMessage(benchmark::State& state) {
    platform::PrivateTempDir dir;
    auto store = pst::messaging::Store::Create(platform::JoinPath(dir.path(), "bench.pst"), "Bench");
    const mapi::Message model = store::MessageFromRfc822(SmallMessage(3));
    for (auto _ : state) benchmark::DoNotOptimize(store->Prepare(model));
}
BENCHMARK(BM_PstPrepareSmallMessage);

void BM_PstAddPreparedSmallMessage(benchmark::State& state) {
    platform::PrivateTempDir dir;
    auto store = pst::messaging::Store::Create(platform::JoinPath(dir.path(), "bench.pst"), "Bench");
    const auto folder = store->AddFolder(store->ipm_subtree(), "Bench.dbx");
    std::size_t i = 0;
    for (auto _ : state) {
        // Each message once: a second add of the same one would be found already there.
        state.PauseTiming();
        mapi::Message model = store::MessageFromRfc822(SmallMessage(i));
        model.props.Set(mapi::PR_SUBJECT_W, "Bench " + std::to_string(i++));
        auto prepared = store->Prepare(model);
        state.ResumeTiming();
        benchmark::DoNotOptimize(store->AddPreparedUnlessPresent(folder, model, std::move(prepared)));
    }
    store->Close();
}
BENCHMARK(BM_PstAddPreparedSmallMessage);

}  // namespace

BENCHMARK_MAIN();
