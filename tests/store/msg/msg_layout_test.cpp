// Our MSG files laid side by side with MSG files that Outlook wrote.
#include <filesystem>
#include <set>

#include <gtest/gtest.h>

#include "fixtures/temp_folder.h"
#include "store/cfb/cfb_test_reader.h"
#include "store/mime/mime_import.h"
#include "store/msg/msg_file.h"
#include "store/mail_item.h"

namespace {

std::string SamplesDir() { return std::string(OMBRIK_SAMPLES_DIR) + "/msg"; }

std::vector<std::string> SampleFiles() {
    std::vector<std::string> files;
    if (!std::filesystem::is_directory(SamplesDir())) return files;
    for (const auto& e : std::filesystem::directory_iterator(SamplesDir()))
        if (e.path().extension() == ".msg") files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

std::set<std::uint16_t> TopLevelIds(const cfbtest::CompoundFile& f) {
    std::set<std::uint16_t> ids;
    auto it = f.streams.find("__properties_version1.0");
    if (it == f.streams.end()) return ids;
    for (std::size_t at = 32; at + 16 <= it->second.size(); at += 16) {
        const std::uint32_t tag = cfbtest::U32(it->second, at);
        if ((tag >> 16) < 0x8000) ids.insert(static_cast<std::uint16_t>(tag >> 16));
    }
    return ids;
}

bool UsesUnicodeStrings(const cfbtest::CompoundFile& f) {
    for (const auto& [path, data] : f.streams)
        if (path.size() > 4 && path.compare(path.size() - 4, 4, "001F") == 0) return true;
    return false;
}

// Every property stream: whole 16-byte entries after the header its object kind has, and the
// top header's counts match the storages present.
void CheckPropertyStreams(const cfbtest::CompoundFile& f, const std::string& label) {
    for (const auto& [path, data] : f.streams) {
        const std::string leaf = "__properties_version1.0";
        if (path.size() < leaf.size() || path.compare(path.size() - leaf.size(), leaf.size(), leaf) != 0) continue;
        const std::string parent = path.size() == leaf.size() ? "" : path.substr(0, path.size() - leaf.size() - 1);
        std::size_t header = 8;
        if (parent.empty()) header = 32;
        else if (parent.size() >= 20 && parent.compare(parent.size() - 20, 20, "__substg1.0_3701000D") == 0) header = 24;
        ASSERT_GE(data.size(), header) << label << " " << path;
        EXPECT_EQ((data.size() - header) % 16, 0u) << label << " " << path;
        if (header == 8) continue;
        std::size_t recipients = 0, attachments = 0;
        const std::string prefix = parent.empty() ? "" : parent + "/";
        for (const std::string& storage : f.storages) {
            if (storage.compare(0, prefix.size(), prefix) != 0 || storage.find('/', prefix.size()) != std::string::npos) continue;
            if (storage.find("__recip_version1.0_#", prefix.size()) == prefix.size()) ++recipients;
            if (storage.find("__attach_version1.0_#", prefix.size()) == prefix.size()) ++attachments;
        }
        EXPECT_EQ(cfbtest::U32(data, 16), recipients) << label << " " << path;
        EXPECT_EQ(cfbtest::U32(data, 20), attachments) << label << " " << path;
    }
}

const char kMessage[] =
    "From: A <a@example.com>\r\nTo: B <b@example.com>\r\nCc: c@example.com\r\nSubject: layout\r\n"
    "Date: Tue, 01 Dec 2026 10:20:30 +0100\r\nMIME-Version: 1.0\r\n"
    "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\nContent-Type: text/html\r\n\r\n<p>hi</p>\r\n"
    "--b\r\nContent-Type: message/rfc822\r\n\r\nFrom: x@example.com\r\nTo: y@example.com\r\nSubject: in\r\n\r\nbody\r\n--b--\r\n";

}  // namespace

TEST(MsgLayout, WeWriteWhatOutlookWritesOnEveryMessage) {
    const auto samples = SampleFiles();
    if (samples.empty()) GTEST_SKIP() << "no sample MSG files";
    std::set<std::uint16_t> common;
    bool first = true;
    for (const std::string& path : samples) {
        const auto f = cfbtest::ReadCompoundFile(fixtures::ReadFile(path));
        if (!UsesUnicodeStrings(f)) continue;
        const auto ids = TopLevelIds(f);
        if (first) {
            common = ids;
            first = false;
        } else {
            std::set<std::uint16_t> both;
            for (auto id : common) if (ids.count(id)) both.insert(id);
            common = both;
        }
    }
    ASSERT_FALSE(common.empty());
    // Left out on purpose: access rights and the locale are the store's view of a message, not
    // the message's; a file on its own carries none.
    for (std::uint16_t id : {0x0FF4, 0x0FF7, 0x3FF1}) common.erase(id);

    fixtures::TempFolder dir;
    mapi::Message message = mime::ImportMessage(kMessage, sizeof kMessage - 1);
    store::AddCompressedRtfFromHtml(message);
    msg::WriteMsgFile(message, dir / "ours.msg");
    const auto ours = cfbtest::ReadCompoundFile(fixtures::ReadFile(dir / "ours.msg"));
    ASSERT_TRUE(ours.faults.empty()) << ours.faults.front();
    const auto our_ids = TopLevelIds(ours);
    for (std::uint16_t id : common) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "%04X", id);
        EXPECT_TRUE(our_ids.count(id)) << "Outlook always writes property " << hex << "; we do not";
    }
    // The streams and storages Outlook's files hold at the top.
    for (const char* name : {"__properties_version1.0", "__nameid_version1.0/__substg1.0_00020102",
                             "__nameid_version1.0/__substg1.0_00030102", "__nameid_version1.0/__substg1.0_00040102"}) {
        EXPECT_TRUE(ours.streams.count(name)) << name;
    }
}

TEST(MsgLayout, PropertyStreamsAreShapedAsInOutlooksFiles) {
    for (const std::string& path : SampleFiles()) CheckPropertyStreams(cfbtest::ReadCompoundFile(fixtures::ReadFile(path)), path);
    fixtures::TempFolder dir;
    msg::WriteMsgFile(mime::ImportMessage(kMessage, sizeof kMessage - 1), dir / "ours.msg");
    const auto ours = cfbtest::ReadCompoundFile(fixtures::ReadFile(dir / "ours.msg"));
    EXPECT_TRUE(ours.storages.count("__attach_version1.0_#00000000/__substg1.0_3701000D"));
    CheckPropertyStreams(ours, "ours");
}
