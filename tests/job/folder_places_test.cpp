// Folder files of one name keep their folders from run to run, whatever rows come with them.
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "export/export_test_support.h"
#include "export/folder_places.h"
#include "job/conversion_job.h"
#include "store/pst/messaging/store.h"

namespace fs = std::filesystem;
using testsupport::Email;

namespace {

fixtures::DbxFileBuilder Folder(const std::vector<std::string>& ids) {
    fixtures::DbxFileBuilder builder;
    for (const std::string& id : ids)
        builder.AddEmail(Email(id, "Message-ID: <" + id + "@example.com>\r\nSubject: " + id +
                                       "\r\nDate: Sat, 01 Jan 2000 00:00:00 +0000\r\n\r\nText of " + id + "\r\n"));
    return builder;
}

// Runs of one form into one destination (and, for "pst", one store the first run makes).
struct Runs {
    testsupport::ExportHarness h;
    std::string form;
    bool store_made = false;

    explicit Runs(std::string option) : form(std::move(option)) {}
    std::string Store() { return h.dir / "All.pst"; }

    JobTally Go(const std::vector<std::pair<std::string, std::vector<std::string>>>& rows) {
        fixtures::RecordingWindow window;
        for (const auto& [where, ids] : rows) {
            fs::create_directories(h.dir / where);
            window.AddRow(h.WriteDbx(where + "/Inbox.dbx", Folder(ids)), "Inbox.dbx");
        }
        JobSettings settings;
        settings.saving_option = form;
        settings.destination_path = h.Destination();
        // A file per message is named by its slot, which a grown folder file renumbers: what an
        // older copy wrote is known by the destination's written messages instead.
        settings.skip_duplicates = form == "eml" || form == "msg";
        window.pst_answer.pst_options_answer = "yes";
        window.pst_answer.pst_mode = store_made ? "old" : "new";
        window.pst_answer.pst_path = Store();
        window.pst_answer.existing_pst_path = Store();
        store_made = true;
        return RunConversionJob(window, settings);
    }

    // The messages in the output folder of that name; -1 when there is none.
    long Count(const std::string& folder) {
        const std::string d = h.Destination();
        if (form == "pst") {
            auto store = pst::messaging::Store::Open(Store(), false);
            const auto nid = store->FindFolderByPath(folder + ".dbx");
            return nid ? static_cast<long>(store->Messages(*nid).size()) : -1;
        }
        if (form == "mbox") {
            if (!fs::exists(d + "/" + folder + ".mbox")) return -1;
            const std::string text = "\n" + fixtures::ReadFile(d + "/" + folder + ".mbox");
            long count = 0;
            for (auto at = text.find("\nFrom "); at != std::string::npos; at = text.find("\nFrom ", at + 1)) ++count;
            return count;
        }
        if (!fs::is_directory(d + "/" + folder)) return -1;
        return std::distance(fs::directory_iterator(d + "/" + folder), fs::directory_iterator());
    }
};

}  // namespace

TEST(FolderPlaces, EachFolderFileKeepsItsFolderAcrossRunsInEveryForm) {
    for (const std::string form : {"eml", "mbox", "msg", "pst"}) {
        SCOPED_TRACE(form);
        Runs runs(form);
        JobTally tally = runs.Go({{"A", {"a1", "a2"}}, {"B", {"b1", "b2", "b3"}}});
        ASSERT_EQ(tally.failures(), 0u) << tally.Summary();
        EXPECT_EQ(runs.Count("Inbox"), 2);
        EXPECT_EQ(runs.Count("Inbox (2)"), 3);

        // B alone later: its own folder, nothing written twice.
        tally = runs.Go({{"B", {"b1", "b2", "b3"}}});
        EXPECT_EQ(tally.messages(), 0u) << tally.Summary();
        EXPECT_EQ(tally.already_there(), 3u) << tally.Summary();
        EXPECT_EQ(runs.Count("Inbox"), 2);

        // A copy of A that grew since: A's folder, only the new message written. An MBOX file
        // is one output, so a grown folder would be a new file of it.
        if (form != "mbox") {
            tally = runs.Go({{"A2", {"a1", "a2", "a3"}}});
            EXPECT_EQ(tally.messages(), 1u) << tally.Summary();
            EXPECT_EQ(runs.Count("Inbox"), 3);
        }

        // A third folder file of the name that shares nothing: a folder of its own.
        tally = runs.Go({{"C", {"c1"}}});
        EXPECT_EQ(tally.messages(), 1u) << tally.Summary();
        EXPECT_EQ(runs.Count("Inbox (3)"), 1);
        EXPECT_EQ(runs.Count("Inbox (2)"), 3);
    }
}

TEST(FolderPlaces, ADamagedMemoryIsLeftOutWithANoteAndWrittenAnew) {
    Runs runs("eml");
    runs.Go({{"A", {"a1"}}, {"B", {"b1"}}});
    const std::string memory = runs.h.Destination() + "/.ombrik-folders";
    for (const std::string damage : {"ombrik folder places 1\nfolder\tInbox", "garbage\n", "ombrik folder places 1\nsource\tzz\tInbox\n"}) {
        fixtures::WriteFile(memory, damage);
        const JobTally tally = runs.Go({{"B", {"b1"}}});
        EXPECT_EQ(tally.failures(), 0u) << tally.Summary();
        ASSERT_EQ(tally.note_entries().size(), 1u) << tally.Summary();
        EXPECT_EQ(tally.note_entries()[0].first, memory);
        EXPECT_NE(tally.note_entries()[0].second.find("damaged"), std::string::npos);
        // As on a first run: B's message goes to the free "Inbox" beside A's.
        EXPECT_EQ(runs.Count("Inbox"), 2);
        EXPECT_EQ(fixtures::ReadFile(memory).rfind("ombrik folder places 1\n", 0), 0u);
        fs::remove_all(runs.h.Destination() + "/Inbox");
        fs::remove(memory);
        runs.Go({{"A", {"a1"}}, {"B", {"b1"}}});
    }
}

// A digest still being computed places every source where the digest in hand would, run after
// run, and is not waited for where nothing remembered or given in the job could make it matter.
TEST(FolderPlaces, APendingDigestPlacesAsTheDigestInHandWould) {
    const std::vector<std::vector<std::pair<std::string, std::string>>> runs = {
        {{"Inbox", "a"}, {"Inbox", "b"}, {"Inbox", "a"}, {"Sent", "c"}},
        {{"Inbox", "b"}, {"Sent", "d"}, {"Inbox", "e"}, {"Drafts", "f"}},
    };
    const auto digest_of = [](const std::string& letter) { return std::string(64, letter[0]); };
    const auto numbered = [](const std::string& base) {
        return [base](int n) { return n == 1 ? base : base + " (" + std::to_string(n) + ")"; };
    };
    const auto no_keys = [] { return std::vector<std::uint64_t>{}; };
    const auto not_taken = [](const std::string&) { return false; };
    fixtures::TempFolder dir;
    std::vector<std::vector<std::string>> in_hand, pending;
    for (const bool wait : {true, false}) {
        const std::string memory = dir / (wait ? "in-hand" : "pending");
        for (const auto& run : runs) {
            FolderPlaces places(memory);
            std::vector<std::string> names;
            std::vector<bool> asked;
            for (const auto& [base, letter] : run) {
                if (wait) {
                    names.push_back(places.Place(base, digest_of(letter), numbered(base), not_taken, no_keys));
                    continue;
                }
                auto computed = std::make_shared<bool>(false);
                const std::shared_future<std::string> digest =
                    std::async(std::launch::deferred, [&, computed, letter = letter] {
                        *computed = true;
                        return digest_of(letter);
                    }).share();
                names.push_back(places.Place(base, digest, numbered(base), not_taken, no_keys));
                asked.push_back(*computed);
            }
            ASSERT_EQ(places.Save(), "");
            (wait ? in_hand : pending).push_back(names);
            // On the first run, only the second "Inbox" (the job gave the name already) waits.
            if (!wait && &run == &runs.front()) {
                EXPECT_EQ(asked, (std::vector<bool>{false, true, true, false}));
            }
        }
    }
    EXPECT_EQ(pending, in_hand);
    EXPECT_EQ(in_hand[0], (std::vector<std::string>{"Inbox", "Inbox (2)", "Inbox", "Sent"}));
    EXPECT_EQ(in_hand[1], (std::vector<std::string>{"Inbox (2)", "Sent (2)", "Inbox (3)", "Drafts"}));
    EXPECT_EQ(fixtures::ReadFile(dir / "pending"), fixtures::ReadFile(dir / "in-hand"));
}

// The keys are held as numbers: a memory read and written back keeps each key's digits, in the
// order a text sort gives, with a new key in its place and none twice; a copy is matched by them.
TEST(FolderPlaces, KeysKeepTheirDigitsAndOrderThroughLoadAndSave) {
    fixtures::TempFolder dir;
    const std::string memory = dir / "memory";
    const std::string digest(64, 'a');
    fixtures::WriteFile(memory, "ombrik folder places 1\nfolder\tInbox\tInbox\nsource\t" + digest +
                                    "\tInbox\nkeys\tInbox\t00000000000000ff 8000000000000000 ffffffffffffffff\n");
    FolderPlaces places(memory);
    ASSERT_FALSE(places.damaged());
    places.RememberMessages("Inbox", {FolderPlaces::ShortKey("0a00000000000000" + std::string(48, '0')),
                                      FolderPlaces::ShortKey("ffffffffffffffff")});
    ASSERT_EQ(places.Save(), "");
    EXPECT_EQ(fixtures::ReadFile(memory), "ombrik folder places 1\nfolder\tInbox\tInbox\nsource\t" + digest +
                                              "\tInbox\nkeys\tInbox\t00000000000000ff 0a00000000000000 "
                                              "8000000000000000 ffffffffffffffff\n");
    const auto numbered = [](int n) { return n == 1 ? std::string("Inbox") : "Inbox (" + std::to_string(n) + ")"; };
    const auto not_taken = [](const std::string&) { return false; };
    FolderPlaces again(memory);
    EXPECT_EQ(again.Place("Inbox", std::string(64, 'b'), numbered, not_taken,
                          [] { return std::vector<std::uint64_t>{0x8000000000000000u}; }),
              "Inbox");
}

// A memory far larger than one piece of the file's writing comes out whole: every key once, in
// order, a thousand to a line, the last line short.
TEST(FolderPlaces, AMemoryOfManyKeysIsWrittenWhole) {
    fixtures::TempFolder dir;
    const std::string memory = dir / "memory";
    const std::string digest(64, 'c');
    fixtures::WriteFile(memory, "ombrik folder places 1\nfolder\tInbox\tInbox\nsource\t" + digest + "\tInbox\n");
    std::vector<std::uint64_t> keys;
    std::string expected = "ombrik folder places 1\nfolder\tInbox\tInbox\nsource\t" + digest + "\tInbox\n";
    char digits[17];
    for (std::uint64_t k = 0; k < 4500; ++k) {
        keys.push_back(k * 0x0001000100010001u);
        std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(keys.back()));
        expected += k % 1000 == 0 ? "keys\tInbox\t" : " ";
        expected += digits;
        if (k % 1000 == 999 || k == 4499) expected += '\n';
    }
    {
        FolderPlaces places(memory);
        places.RememberMessages("Inbox", keys);
        ASSERT_EQ(places.Save(), "");
    }
    ASSERT_GT(expected.size(), 64u << 10);
    EXPECT_EQ(fixtures::ReadFile(memory), expected);
    // Nothing is left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(platform::FileSystemPath(dir.path())), fs::directory_iterator()), 1);
}
