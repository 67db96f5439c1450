// Extending stores made by other programs, Outlook's among them: the work goes into a private
// copy that replaces the original only once it is written and checked. The real stores of the
// samples folder are the test bed; the user's file must come out byte-identical after every
// refusal, failure and kill.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>

#include "fixtures/failing_disk.h"
#include "pst_test_util.h"
#include "store/pst/messaging/extension.h"
#include "store/pst/messaging/store.h"
#include "store/pst/ndb/crc.h"
#include "store/pst/ndb/database.h"

namespace fs = std::filesystem;
using namespace pst_test;
using pst::messaging::ExtensionRefusal;
using pst::messaging::Store;
using pst::messaging::StoreExtension;

namespace {

fs::path Sample(const std::string& name) { return fs::path(OMBRIK_SAMPLES_DIR) / "pst" / name; }

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A writable copy of a sample in a fresh scratch folder.
fs::path CopySample(const std::string& name, const std::string& scratch) {
    auto dir = ScratchDir(scratch);
    auto copy = dir / name;
    fs::copy_file(Sample(name), copy);
    fs::permissions(copy, fs::perms::owner_read | fs::perms::owner_write);
    return copy;
}

std::vector<std::string> FilesIn(const fs::path& dir) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename().string());
    return out;
}

int WorkingCopies(const fs::path& dir) {
    int n = 0;
    for (const auto& name : FilesIn(dir)) n += name.rfind(".ombrik-extend-", 0) == 0;
    return n;
}

// Every folder below the top of the personal folders with its messages' subjects, as our reader sees it.
std::map<std::string, std::vector<std::string>> Content(const fs::path& pst) {
    auto store = Store::Open(pst.string(), false);
    std::map<std::string, std::vector<std::string>> out;
    std::vector<std::pair<std::uint32_t, std::string>> todo{{store->ipm_subtree(), ""}};
    for (std::size_t i = 0; i < todo.size() && i < 1000; ++i) {
        auto [nid, path] = todo[i];
        auto& subjects = out[path];
        for (auto m : store->Messages(nid)) subjects.push_back(store->ReadMessage(m).props.GetString(0x0037001F).value_or("?"));
        for (const auto& f : store->Subfolders(nid)) todo.emplace_back(f.nid, path + "\\" + f.name);
    }
    return out;
}

// The strict outside checker's error lines (a real store may carry some before we touch it).
std::set<std::string> PstCheckErrors(const fs::path& pst) {
    std::string out;
    Run("/usr/bin/python3 " + PstCheckPath() + " --strict '" + pst.string() + "' 2>&1", &out);
    std::set<std::string> errors;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("ERROR", 0) == 0) errors.insert(line);
    return errors;
}

// What after holds that before did not: the findings an extension added.
std::set<std::string> Added(const std::set<std::string>& after, const std::set<std::string>& before) {
    std::set<std::string> out;
    for (const auto& f : after)
        if (!before.count(f)) out.insert(f);
    return out;
}

std::set<std::string> OurFindings(const fs::path& pst) {
    std::set<std::string> out;
    for (const auto& f : pst::CheckPstFile(pst.string()).errors) out.insert(f.code + ": " + f.detail);
    return out;
}

// Every file pffexport writes, by relative path, with its bytes.
std::map<std::string, std::string> PffExport(const fs::path& pst, const std::string& tag) {
    auto target = pst.parent_path() / tag;
    std::string out;
    EXPECT_EQ(pst_test::Run("pffexport -q -m all -f all -t '" + target.string() + "' '" + pst.string() + "' 2>&1", &out), 0) << out;
    std::map<std::string, std::string> files;
    fs::path root = target.string() + ".export";
    if (!fs::exists(root)) return files;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file()) files[fs::relative(e.path(), root).string()] = ReadAll(e.path());
    return files;
}

constexpr int kNewMessages = 4;

void AddImportedFolder(Store& store) {
    auto folder = store.AddFolder(store.ipm_subtree(), "Imported.dbx");
    for (int i = 0; i < kNewMessages - 1; ++i)
        store.AddMessage(folder, MakeMessage("Imported " + std::to_string(i), "Imported body " + std::to_string(i), i));
    auto rich = RichMessage();
    rich.props.Set(0x0037001F, std::string("Imported rich"));
    store.AddMessage(folder, rich);
}

void Extend(const fs::path& pst, const platform::DeviceFilter* devices = nullptr,
            const pst::messaging::ExtensionObserver& observer = {}) {
    auto ext = StoreExtension::Begin(pst.string(), devices, observer);
    AddImportedFolder(ext->store());
    ext->Commit();
}

// Extends in a child process, which the injected fault is to kill; its wait status (-1: no child).
int ExtendInChild(const fs::path& pst, const platform::DeviceFilter* devices = nullptr,
                  const pst::messaging::ExtensionObserver& observer = {}) {
    const pid_t child = ::fork();
    if (child < 0) return -1;
    if (child == 0) {
        try {
            Extend(pst, devices, observer);
        } catch (...) {
        }
        ::_exit(3);
    }
    int status = 0;
    return ::waitpid(child, &status, 0) == child ? status : -1;
}

class PstExtendRealStore : public ::testing::TestWithParam<const char*> {};

// The store gains the folder and its messages; what it held before stays as every reader saw it,
// and no checker finds anything it did not find before.
TEST_P(PstExtendRealStore, GainsAFolderAndKeepsEverythingElse) {
    const std::string name = GetParam();
    if (!fs::exists(Sample(name))) GTEST_SKIP() << "samples absent";
    auto pst = CopySample(name, std::string("extend-") + name);
    const auto content_before = Content(pst);
    const auto ours_before = OurFindings(pst);
    const bool pstcheck = HavePstCheck();
    const auto strict_before = pstcheck ? PstCheckErrors(pst) : std::set<std::string>{};
    const bool pff = HaveTool("pffexport");
    const auto export_before = pff ? PffExport(pst, "before") : std::map<std::string, std::string>{};

    fs::permissions(pst, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    const auto size_before = fs::file_size(pst);
    ASSERT_NO_THROW(Extend(pst));
    // Every sample has more free space in its maps than the new folder needs: it fills holes
    // instead of growing the file.
    EXPECT_EQ(fs::file_size(pst), size_before);

    EXPECT_EQ(fs::status(pst).permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(WorkingCopies(pst.parent_path()), 0) << "the working copy was left behind";
    auto content_after = Content(pst);
    ASSERT_EQ(content_after.count("\\Imported.dbx"), 1u);
    std::vector<std::string> expected;
    for (int i = 0; i < kNewMessages - 1; ++i) expected.push_back("Imported " + std::to_string(i));
    expected.push_back("Imported rich");
    EXPECT_EQ(content_after["\\Imported.dbx"], expected);
    content_after.erase("\\Imported.dbx");
    EXPECT_EQ(content_after, content_before);
    EXPECT_EQ(Added(OurFindings(pst), ours_before), std::set<std::string>{});
    if (pstcheck) {
        EXPECT_EQ(Added(PstCheckErrors(pst), strict_before), std::set<std::string>{});
    }
    {
        auto store = Store::Open(pst.string(), false);
        auto folder = store->FindFolderByPath("Imported.dbx");
        ASSERT_TRUE(folder);
        auto ids = store->Messages(*folder);
        ASSERT_EQ(ids.size(), static_cast<std::size_t>(kNewMessages));
        auto rich = store->ReadMessage(ids.back());
        ASSERT_EQ(rich.attachments.size(), 3u);
        EXPECT_TRUE(*rich.attachments[1].props.GetBinary(0x37010102) == Pattern(50000, 2));
    }
    if (HaveTool("pffinfo")) {
        std::string out;
        EXPECT_EQ(pst_test::Run("pffinfo '" + pst.string() + "' 2>&1", &out), 0) << out;
    }
    if (pff) {
        auto export_after = PffExport(pst, "after");
        std::size_t new_files = 0;
        for (const auto& [path, bytes] : export_after) {
            auto old = export_before.find(path);
            if (old != export_before.end()) {
                EXPECT_EQ(bytes, old->second) << path << " changed";
            } else {
                EXPECT_NE(path.find("Imported.dbx"), std::string::npos) << path << " is new but outside the new folder";
                ++new_files;
            }
        }
        for (const auto& [path, bytes] : export_before) EXPECT_TRUE(export_after.count(path)) << path << " is gone";
        std::string joined;
        for (const auto& [path, bytes] : export_after)
            if (path.find("Imported.dbx") != std::string::npos) joined += path + "\n" + bytes;
        for (const auto& subject : expected) EXPECT_NE(joined.find(subject), std::string::npos) << subject;
        EXPECT_NE(joined.find("alice@example.com"), std::string::npos);
        EXPECT_NE(joined.find("bob@example.com"), std::string::npos);    // recipients
        EXPECT_NE(joined.find("carol@example.com"), std::string::npos);
        EXPECT_NE(joined.find("Client submit time:\t\t\tJan 01, 2020 00:00:00"), std::string::npos);  // dates
        EXPECT_NE(joined.find("Imported body 2"), std::string::npos);
        EXPECT_NE(joined.find("large.bin"), std::string::npos);
        EXPECT_GT(new_files, 0u);
    }
    // pst-extractor too (support.pst aside: it needs minutes for a message of 94 recipients).
    if (!NpmReaderModules().empty() && name != "support.pst") {
        std::string listing;
        EXPECT_EQ(ExtractorListing(pst, &listing), 0) << listing;
        EXPECT_NE(listing.find("/Imported.dbx 4\n  message Imported 0 | from Alice Sender <alice@example.com>\n"),
                  std::string::npos) << listing;
        EXPECT_NE(listing.find("    attachment large.bin 50000\n"), std::string::npos) << listing;
    }
    if (HaveTool("readpst")) {
        auto out_dir = pst.parent_path() / "readpst";
        fs::create_directories(out_dir);
        std::string out;
        EXPECT_EQ(pst_test::Run("readpst -q -j 0 -D -o '" + out_dir.string() + "' '" + pst.string() + "' 2>&1", &out), 0) << out;
        std::string mbox, files;  // files: what readpst wrote, to tell a missing folder from a short one
        for (const auto& e : fs::recursive_directory_iterator(out_dir)) {
            if (!e.is_regular_file()) continue;
            files += e.path().string() + " " + std::to_string(e.file_size()) + "\n";
            if (e.path().string().find("Imported.dbx") != std::string::npos) mbox += ReadAll(e.path());
        }
        for (const auto& subject : expected)
            EXPECT_NE(mbox.find("Subject: " + subject), std::string::npos) << subject << "\n" << out << files;
        EXPECT_NE(mbox.find("large.bin"), std::string::npos);
    }
}

// A second run into the same store finds the folder and adds to it.
TEST_P(PstExtendRealStore, SecondRunAddsToTheSameFolder) {
    const std::string name = GetParam();
    if (!fs::exists(Sample(name))) GTEST_SKIP() << "samples absent";
    auto pst = CopySample(name, std::string("extend-twice-") + name);
    const auto ours_before = OurFindings(pst);
    ASSERT_NO_THROW(Extend(pst));
    {
        auto ext = StoreExtension::Begin(pst.string());
        auto folder = ext->store().FindFolderByPath("Imported.dbx");
        ASSERT_TRUE(folder);
        ext->store().AddMessage(*folder, MakeMessage("Second run", "again"));
        ext->Commit();
    }
    auto content = Content(pst);
    ASSERT_EQ(content["\\Imported.dbx"].size(), static_cast<std::size_t>(kNewMessages + 1));
    EXPECT_EQ(content["\\Imported.dbx"].back(), "Second run");
    EXPECT_EQ(Added(OurFindings(pst), ours_before), std::set<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Samples, PstExtendRealStore,
                         ::testing::Values("support.pst", "attachAndInline.pst", "msgInMsg.pst", "dist-list.pst"),
                         [](const auto& info) {
                             std::string n = info.param;
                             for (auto& c : n)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return n;
                         });

// Stores we will not build upon are refused with a reason and what to do, and not touched.
TEST(PstExtendRefusal, RefusedStoresStayByteIdentical) {
    auto dir = ScratchDir("extend-refuse");
    std::vector<std::pair<fs::path, std::string>> cases;  // file, word the reason must hold
    auto add_copy = [&](const std::string& sample, const std::string& as, const std::string& word) {
        if (!fs::exists(Sample(sample))) return fs::path();
        auto p = dir / as;
        fs::copy_file(Sample(sample), p);
        fs::permissions(p, fs::perms::owner_read | fs::perms::owner_write);
        cases.emplace_back(p, word);
        return p;
    };
    add_copy("32-bit.pst", "ansi.pst", "ANSI");
    add_copy("passworded.pst", "password.pst", "password");
    // Our own store, marked as a 4K-page one.
    auto big_pages = dir / "4k.pst";
    Store::Create(big_pages.string(), "4K")->Close();
    {
        std::fstream f(big_pages, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(10);
        f.put(36).put(0);
    }
    cases.emplace_back(big_pages, "4 KB pages");
    // Our own store, marked as using the "high" encoding.
    auto high = dir / "high.pst";
    Store::Create(high.string(), "High")->Close();
    {
        std::fstream f(high, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(513);
        f.put(2);
    }
    cases.emplace_back(high, "\"high\" encoding");
    for (const auto& [value, word] : {std::pair{'\x10', "Windows Information Protection"}, std::pair{'\x07', "unknown encoding"}}) {
        auto other = dir / ("encoding-" + std::to_string(value) + ".pst");
        fs::copy_file(high, other);
        std::fstream f(other, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(513);
        f.put(value);
        cases.emplace_back(other, word);
    }
    // A real store with a B-tree page damaged.
    if (auto damaged = add_copy("attachAndInline.pst", "damaged.pst", "damaged"); !damaged.empty()) {
        auto store = Store::Open(damaged.string(), false);
        const auto page = store->database().btree_pages().front();
        store.reset();
        std::fstream f(damaged, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(static_cast<std::streamoff>(page + 7));
        f.put('\x5A');
    }
    // An offline store: a PST's layout under the client signature "SO", checksums intact.
    if (auto ost = add_copy("support.pst", "offline.ost", "offline store (OST)"); !ost.empty()) {
        std::string bytes = ReadAll(ost);
        bytes[8] = 'S';
        bytes[9] = 'O';
        auto crc = [&](std::size_t length) {
            return pst::ndb::ComputeCrc({reinterpret_cast<const std::uint8_t*>(bytes.data()) + 8, length});
        };
        const std::uint32_t partial = crc(pst::ndb::kHeaderPartialCrcLength), full = crc(pst::ndb::kHeaderFullCrcLength);
        std::memcpy(bytes.data() + 4, &partial, 4);
        std::memcpy(bytes.data() + 524, &full, 4);
        std::ofstream(ost, std::ios::binary | std::ios::trunc) << bytes;
    }
    auto junk = dir / "junk.pst";
    std::ofstream(junk, std::ios::binary) << std::string(70000, 'x');
    cases.emplace_back(junk, "not a PST");
    auto read_only = add_copy("msgInMsg.pst", "readonly.pst", "read-only");
    if (!read_only.empty()) fs::permissions(read_only, fs::perms::owner_read);

    ASSERT_GE(cases.size(), 3u);
    for (const auto& [file, word] : cases) {
        const std::string before = ReadAll(file);
        if (file.filename() != "readonly.pst") {
            const std::string reason = ExtensionRefusal(file.string());
            EXPECT_NE(reason.find(word), std::string::npos) << file << ": " << reason;
            EXPECT_NE(reason.find(" or "), std::string::npos) << "no advice in: " << reason;
            if (word != "damaged") {
                EXPECT_EQ(reason.find("repair"), std::string::npos) << reason;
            }
        }
        try {
            StoreExtension::Begin(file.string());
            ADD_FAILURE() << file << " was opened for extending";
        } catch (const pst::PstError& e) {
            EXPECT_NE(std::string(e.what()).find(word), std::string::npos) << e.what();
        }
        EXPECT_EQ(ReadAll(file), before) << file;
    }
    EXPECT_EQ(FilesIn(dir).size(), cases.size()) << "a working copy was left behind";
    EXPECT_EQ(ExtensionRefusal(Sample("attachAndInline.pst").string()), "");
}

// Every write of an extension failed in turn, and the process killed at every write in turn:
// the original stays byte-identical and readable, and no working copy outlives the failure
// (a killed run's copy is cleared by the next start).
TEST(PstExtendFaults, FailedOrKilledExtensionsLeaveTheOriginalIntact) {
    for (const char* name : {"support.pst", "attachAndInline.pst", "msgInMsg.pst", "dist-list.pst"}) {
        if (!fs::exists(Sample(name))) GTEST_SKIP() << "samples absent";
        auto pst = CopySample(name, std::string("extend-faults-") + name);
        const fs::path dir = pst.parent_path();
        const std::string original = ReadAll(pst);
        int writes = 0;
        {
            auto probe = dir / "probe.pst";
            fs::copy_file(pst, probe);
            fixtures::FailAtWrite counting;
            Extend(probe, &counting);
            fs::remove(probe);
            writes = counting.count;
        }
        ASSERT_GT(writes, 3) << name;
        std::cout << name << ": " << writes << " writes, each failed and each killed in turn\n";
        for (int n = 1; n <= writes; ++n) {
            fixtures::FailAtWrite failing;
            failing.fail_at = n;
            try {
                Extend(pst, &failing);
                ADD_FAILURE() << name << ": write " << n << " did not fail";
            } catch (const pst::PstError& e) {
                EXPECT_NE(std::string(e.what()).find("the disk is full"), std::string::npos) << e.what();
            }
            ASSERT_EQ(ReadAll(pst), original) << name << " changed after a failure at write " << n;
            ASSERT_EQ(FilesIn(dir).size(), 1u) << "working copy left after a failure at write " << n;

            fixtures::FailAtWrite killing;
            killing.fail_at = n;
            killing.kill = true;
            const int status = ExtendInChild(pst, &killing);
            ASSERT_NE(status, -1);
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "write " << n;
            ASSERT_EQ(ReadAll(pst), original) << name << " changed after a kill at write " << n;
            StoreExtension::RemoveStaleCopies(dir.string());
            ASSERT_EQ(FilesIn(dir).size(), 1u) << "a killed run's copy was not cleared, write " << n;
        }
        if (HaveTool("pffinfo")) {
            std::string out;
            EXPECT_EQ(pst_test::Run("pffinfo '" + pst.string() + "' 2>&1", &out), 0) << out;
        }
        EXPECT_TRUE(pst::CheckPstFile(pst.string()).errors.size() == OurFindings(Sample(name)).size());
        // And with no fault the same copy is extended.
        ASSERT_NO_THROW(Extend(pst));
        EXPECT_EQ(Content(pst)["\\Imported.dbx"].size(), static_cast<std::size_t>(kNewMessages));
    }
}

// Every step of the swap failed and killed in turn: before the rename the original is untouched,
// after it the extended store is whole.
TEST(PstExtendFaults, FailuresAndKillsAroundTheSwap) {
    if (!fs::exists(Sample("attachAndInline.pst"))) GTEST_SKIP() << "samples absent";
    auto pst = CopySample("attachAndInline.pst", "extend-swap");
    const fs::path dir = pst.parent_path();
    const std::string original = ReadAll(pst);
    using pst::messaging::ExtensionStep;
    const std::pair<ExtensionStep, const char*> steps[] = {{ExtensionStep::kCopied, "copied"},
                                                           {ExtensionStep::kClosed, "closed"},
                                                           {ExtensionStep::kChecked, "checked"},
                                                           {ExtensionStep::kSynced, "synced"},
                                                           {ExtensionStep::kRenamed, "renamed"}};
    for (const auto& [fail_at, step] : steps) {
        const bool replaced = fail_at == ExtensionStep::kRenamed;
        for (const bool kill : {false, true}) {
            const pst::messaging::ExtensionObserver observer = [&, fail_at = fail_at](ExtensionStep at) {
                if (at != fail_at) return;
                if (kill) ::raise(SIGKILL);
                throw pst::PstError("injected failure");
            };
            if (kill) {
                const int status = ExtendInChild(pst, nullptr, observer);
                ASSERT_NE(status, -1);
                EXPECT_TRUE(WIFSIGNALED(status)) << step;
                StoreExtension::RemoveStaleCopies(dir.string());
            } else {
                EXPECT_THROW(Extend(pst, nullptr, observer), pst::PstError) << step;
            }
            EXPECT_EQ(WorkingCopies(dir), 0) << step << (kill ? " (killed)" : "");
            if (replaced) {
                EXPECT_EQ(Content(pst)["\\Imported.dbx"].size(), static_cast<std::size_t>(kNewMessages)) << step;
                EXPECT_EQ(Added(OurFindings(pst), OurFindings(Sample("attachAndInline.pst"))), std::set<std::string>{});
                fs::remove(pst);
                fs::copy_file(Sample("attachAndInline.pst"), pst);
                fs::permissions(pst, fs::perms::owner_read | fs::perms::owner_write);
            } else {
                ASSERT_EQ(ReadAll(pst), original) << step << (kill ? " (killed)" : "");
            }
        }
    }
}

// A store whose header says its allocation maps are not to be trusted (a writer stopped while
// changing them) has its maps rebuilt from what the B-trees reference before anything is added:
// live data is never taken for free space, and the space nothing references is used.
TEST(PstExtendRealStore, MapsMarkedInvalidAreRebuiltBeforeAdding) {
    if (!fs::exists(Sample("support.pst"))) GTEST_SKIP() << "samples absent";
    auto pst = CopySample("support.pst", "extend-invalid-maps");
    {
        std::fstream file(pst, std::ios::binary | std::ios::in | std::ios::out);
        pst::ndb::HEADER header;
        file.read(reinterpret_cast<char*>(&header), sizeof header);
        ASSERT_NE(header.root.fAMapValid, 0);
        header.root.fAMapValid = 0;
        std::uint8_t raw[sizeof header];
        std::memcpy(raw, &header, sizeof header);
        header.dwCRCPartial = pst::ndb::ComputeCrc({raw + pst::ndb::kHeaderPartialCrcStart, pst::ndb::kHeaderPartialCrcLength});
        std::memcpy(raw, &header, sizeof header);
        header.dwCRCFull = pst::ndb::ComputeCrc({raw + pst::ndb::kHeaderPartialCrcStart, pst::ndb::kHeaderFullCrcLength});
        file.seekp(0);
        file.write(reinterpret_cast<const char*>(&header), sizeof header);
    }
    const auto content_before = Content(pst);
    const auto size_before = fs::file_size(pst);
    ASSERT_NO_THROW(Extend(pst));
    auto content_after = Content(pst);
    EXPECT_EQ(content_after["\\Imported.dbx"].size(), static_cast<std::size_t>(kNewMessages));
    content_after.erase("\\Imported.dbx");
    EXPECT_EQ(content_after, content_before);
    EXPECT_EQ(fs::file_size(pst), size_before);
    auto db = pst::ndb::Database::Open(pst.string(), false);
    EXPECT_EQ(db->header().root.fAMapValid, pst::ndb::kAMapValid2);
    EXPECT_EQ(Added(OurFindings(pst), OurFindings(Sample("support.pst"))), std::set<std::string>{});
    if (HavePstCheck()) {
        EXPECT_EQ(Added(PstCheckErrors(pst), PstCheckErrors(Sample("support.pst"))), std::set<std::string>{});
    }
}

// A working copy that comes out of the engine damaged never replaces the original.
TEST(PstExtendFaults, DamagedCopyIsDiscarded) {
    if (!fs::exists(Sample("dist-list.pst"))) GTEST_SKIP() << "samples absent";
    auto pst = CopySample("dist-list.pst", "extend-damaged-copy");
    const std::string original = ReadAll(pst);
    std::string copy;
    auto ext = StoreExtension::Begin(pst.string(), nullptr, [&](pst::messaging::ExtensionStep at) {
        if (at != pst::messaging::ExtensionStep::kClosed) return;
        std::uint64_t ib = 0;
        {
            auto db = pst::ndb::Database::Open(copy, false);
            ib = db->FindBlock(db->FindNode(0x21)->bid_data)->ib;  // the message store's properties
        }
        std::fstream f(copy, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(static_cast<std::streamoff>(ib + 8));
        f.put('\x7E');
    });
    AddImportedFolder(ext->store());
    copy = ext->copy_path();
    try {
        ext->Commit();
        ADD_FAILURE() << "a damaged copy replaced the store";
    } catch (const pst::PstError& e) {
        EXPECT_NE(std::string(e.what()).find("failed its check"), std::string::npos) << e.what();
    }
    EXPECT_EQ(ReadAll(pst), original);
    EXPECT_EQ(WorkingCopies(pst.parent_path()), 0);
}

// A store reached through a symbolic link is extended where it lies; the link stays a link.
TEST(PstExtendFaults, SymbolicLinkKeepsPointingAtTheExtendedStore) {
    if (!fs::exists(Sample("msgInMsg.pst"))) GTEST_SKIP() << "samples absent";
    auto pst = CopySample("msgInMsg.pst", "extend-link");
    auto link_dir = pst.parent_path() / "elsewhere";
    fs::create_directories(link_dir);
    auto link = link_dir / "link.pst";
    fs::create_symlink(pst, link);
    ASSERT_NO_THROW(Extend(link));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(Content(pst)["\\Imported.dbx"].size(), static_cast<std::size_t>(kNewMessages));
    EXPECT_EQ(WorkingCopies(link_dir), 0);
    EXPECT_EQ(WorkingCopies(pst.parent_path()), 0);
}

// A copy is ours only by its name and a process that is gone; anything else stays.
TEST(PstExtendFaults, StaleCopyCleanupTouchesOnlyOurDeadCopies) {
    auto dir = ScratchDir("extend-stale");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) ::_exit(0);
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
    const std::string dead = ".ombrik-extend-" + std::to_string(child) + "-0.pst.tmp";
    const std::string alive = ".ombrik-extend-" + std::to_string(::getppid()) + "-0.pst.tmp";
    for (const std::string& n : {dead, alive, std::string(".ombrik-extend-x.pst.tmp"), std::string("mine.pst")})
        std::ofstream(dir / n) << "x";
    StoreExtension::RemoveStaleCopies(dir.string());
    EXPECT_FALSE(fs::exists(dir / dead));
    EXPECT_TRUE(fs::exists(dir / alive));
    EXPECT_TRUE(fs::exists(dir / ".ombrik-extend-x.pst.tmp"));
    EXPECT_TRUE(fs::exists(dir / "mine.pst"));
}

}  // namespace

namespace {

// Changes bytes of a copy in place.
void Patch(const fs::path& file, std::uint64_t at, const std::string& bytes) {
    std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(at));
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::set<std::string> Codes(const fs::path& pst) {
    std::set<std::string> out;
    for (const auto& f : pst::CheckPstFile(pst.string()).errors) out.insert(f.code);
    return out;
}

// Adds delta to the reference count of the first block in the first leaf page of the block
// B-tree, with the page's checksum made right again: an inconsistency, not a torn page.
void ShiftFirstBlockCount(const fs::path& pst, int delta) {
    std::uint64_t page = 0;
    {
        auto store = Store::Open(pst.string(), false);
        for (auto ib : store->database().btree_pages()) {
            auto raw = store->database().ReadAt(ib, pst::ndb::kPageSize);
            if (raw[496] == pst::ndb::kPtypeBBT && raw[491] == 0) {
                page = ib;
                break;
            }
        }
    }
    ASSERT_NE(page, 0u);
    std::string raw = ReadAll(pst).substr(page, pst::ndb::kPageSize);
    std::uint16_t count;
    std::memcpy(&count, raw.data() + 18, 2);
    count = static_cast<std::uint16_t>(count + delta);
    std::memcpy(raw.data() + 18, &count, 2);
    const std::uint32_t crc = pst::ndb::ComputeCrc({reinterpret_cast<const std::uint8_t*>(raw.data()), 496});
    std::memcpy(raw.data() + 500, &crc, 4);
    Patch(pst, page, raw);
}

}  // namespace

// Outlook 2003 and 2007 before SP2 write no density list: the page at 0x4200 stays zero. Every
// reader reads such a store; we extend it and leave it with a valid density list, as later
// Outlook versions do on opening one.
TEST(PstExtendOlderOutlook, StoreWithoutADensityListIsExtendedAndGainsOne) {
    // Not support.pst: pst-extractor takes minutes over its message of 94 recipients.
    if (!fs::exists(Sample("dist-list.pst"))) GTEST_SKIP() << "samples absent";
    auto pst = CopySample("dist-list.pst", "extend-no-dlist");
    Patch(pst, 0x4200, std::string(512, '\0'));
    std::string out;
    if (HaveTool("pffinfo")) {
        EXPECT_EQ(pst_test::Run("pffinfo '" + pst.string() + "' 2>&1", &out), 0) << out;
    }
    if (HaveTool("readpst")) {
        fs::create_directories(pst.parent_path() / "before");
        EXPECT_EQ(pst_test::Run("readpst -q -j 0 -o '" + (pst.parent_path() / "before").string() + "' '" + pst.string() + "' 2>&1", &out), 0) << out;
    }
    if (!NpmReaderModules().empty()) {
        EXPECT_EQ(ExtractorListing(pst, &out), 0) << out;
    }
    EXPECT_TRUE(Codes(pst).count("DLIST_ABSENT"));
    EXPECT_TRUE(pst::IsMinorInconsistency("DLIST_ABSENT"));
    ASSERT_EQ(ExtensionRefusal(pst.string()), "");
    const auto content_before = Content(pst);
    const auto ours_before = OurFindings(pst);
    const auto strict_before = HavePstCheck() ? PstCheckErrors(pst) : std::set<std::string>{};
    ASSERT_NO_THROW(Extend(pst));
    auto content = Content(pst);
    EXPECT_EQ(content["\\Imported.dbx"].size(), static_cast<std::size_t>(kNewMessages));
    content.erase("\\Imported.dbx");
    EXPECT_EQ(content, content_before);
    const auto codes = Codes(pst);
    for (const char* dlist : {"DLIST_ABSENT", "DLIST_TYPE", "DLIST_CRC", "DLIST_FREE", "DLIST_ORDER", "DLIST_COUNT"})
        EXPECT_FALSE(codes.count(dlist)) << dlist;
    EXPECT_EQ(Added(OurFindings(pst), ours_before), std::set<std::string>{});
    EXPECT_EQ(static_cast<std::uint8_t>(ReadAll(pst)[0x4200 + 496]), pst::ndb::kPtypeDL);
    if (HavePstCheck()) {
        EXPECT_EQ(Added(PstCheckErrors(pst), strict_before), std::set<std::string>{});
    }
    if (HaveTool("pffinfo")) {
        EXPECT_EQ(pst_test::Run("pffinfo '" + pst.string() + "' 2>&1", &out), 0) << out;
    }
    if (!NpmReaderModules().empty()) {
        EXPECT_EQ(ExtractorListing(pst, &out), 0) << out;
        EXPECT_NE(out.find("message Imported rich"), std::string::npos) << out;
    }
}

// What Outlook itself leaves behind is built upon: a density list whose checksum is stale, a
// block counted once more than it is referenced. A block counted fewer times than it is
// referenced could be freed while in use: that store stays refused, untouched.
TEST(PstExtendOlderOutlook, OutlooksOwnInconsistenciesAreBuiltUponDamageIsNot) {
    if (!fs::exists(Sample("attachAndInline.pst"))) GTEST_SKIP() << "samples absent";
    auto stale_dlist = CopySample("attachAndInline.pst", "extend-stale-dlist");
    Patch(stale_dlist, 0x4200 + 100, "\x55");
    auto counted_high = CopySample("attachAndInline.pst", "extend-count-high");
    ShiftFirstBlockCount(counted_high, +1);
    auto counted_low = CopySample("attachAndInline.pst", "extend-count-low");
    ShiftFirstBlockCount(counted_low, -1);

    EXPECT_TRUE(Codes(stale_dlist).count("DLIST_CRC"));
    EXPECT_TRUE(Codes(counted_high).count("BLOCK_REFCOUNT_HIGH"));
    for (const auto& pst : {stale_dlist, counted_high}) {
        ASSERT_EQ(ExtensionRefusal(pst.string()), "") << pst;
        const auto ours_before = OurFindings(pst);
        ASSERT_NO_THROW(Extend(pst)) << pst;
        EXPECT_EQ(Content(pst)["\\Imported.dbx"].size(), static_cast<std::size_t>(kNewMessages));
        EXPECT_EQ(Added(OurFindings(pst), ours_before), std::set<std::string>{}) << pst;
        std::string out;
        if (HaveTool("pffinfo")) {
            EXPECT_EQ(pst_test::Run("pffinfo '" + pst.string() + "' 2>&1", &out), 0) << out;
        }
    }
    EXPECT_FALSE(Codes(stale_dlist).count("DLIST_CRC"));  // rewritten whole

    EXPECT_TRUE(Codes(counted_low).count("BLOCK_REFCOUNT"));
    const std::string before = ReadAll(counted_low);
    const std::string reason = ExtensionRefusal(counted_low.string());
    EXPECT_NE(reason.find("damaged (BLOCK_REFCOUNT"), std::string::npos) << reason;
    EXPECT_THROW(StoreExtension::Begin(counted_low.string()), pst::PstError);
    EXPECT_EQ(ReadAll(counted_low), before);
}
