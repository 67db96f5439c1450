// Helpers shared by the PST tests: scratch folders, sample messages and the outside checkers.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "store/mapi/message.h"
#include "store/pst/messaging/checker.h"

namespace pst_test {

// One folder per process: CTest runs the tests of one suite as separate processes side by side,
// and a suite that builds its store in SetUpTestSuite must not pull it away from another. The
// folders go when the process ends.
class ScratchFolders {
public:
    static std::filesystem::path Make(const std::string& name) {
        static ScratchFolders folders;
        auto dir = std::filesystem::path(OMBRIK_BINARY_DIR) / "pst-test-scratch" /
                   (name + "-" + std::to_string(::getpid()));
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        folders.made_.push_back(dir);
        return dir;
    }
    ~ScratchFolders() {
        std::error_code ignored;
        for (const auto& dir : made_) std::filesystem::remove_all(dir, ignored);
    }

private:
    std::vector<std::filesystem::path> made_;
};

inline std::filesystem::path ScratchDir(const std::string& name) { return ScratchFolders::Make(name); }

// Runs a shell command and returns its exit status and standard output.
inline int Run(const std::string& command, std::string* output = nullptr) {
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) return -1;
    std::string out;
    char buf[4096];
    while (std::size_t n = std::fread(buf, 1, sizeof(buf), p)) out.append(buf, n);
    int status = ::pclose(p);
    if (output) *output = out;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline bool HaveTool(const std::string& name) { return Run("command -v " + name + " >/dev/null 2>&1") == 0; }

inline std::string PstCheckPath() { return std::string(OMBRIK_TOOLS_DIR) + "/pstcheck.py"; }
inline bool HavePstCheck() { return std::filesystem::exists(PstCheckPath()); }

// The strict outside checker's verdict; empty when it passes.
inline std::string PstCheckFailure(const std::filesystem::path& file) {
    std::string out;
    int rc = Run("/usr/bin/python3 " + PstCheckPath() + " --strict '" + file.string() + "' 2>&1", &out);
    return rc == 0 ? std::string() : out;
}

// Our own structural checker and, when present, the strict outside one: both must pass.
inline std::string StoreProblems(const std::filesystem::path& file) {
    std::string problems;
    auto report = pst::CheckPstFile(file.string());
    if (!report.ok()) problems += report.ToText();
    if (HavePstCheck()) problems += PstCheckFailure(file);
    return problems;
}

constexpr std::uint64_t kTicks2020 = 132223104000000000ull;  // 2020-01-01 00:00 UTC

inline mapi::Message MakeMessage(const std::string& subject, const std::string& body, int n = 0) {
    mapi::Message m;
    m.props.Set(0x001A001F, std::string("IPM.Note"));
    m.props.Set(0x0037001F, subject);
    m.props.Set(0x1000001F, body);
    m.props.Set(0x0C1A001F, std::string("Alice Sender"));
    m.props.Set(0x0C1F001F, std::string("alice@example.com"));
    m.props.Set(0x0C1E001F, std::string("SMTP"));
    m.props.Set(0x0042001F, std::string("Alice Sender"));
    m.props.Set(0x0065001F, std::string("alice@example.com"));
    m.props.Set(0x0064001F, std::string("SMTP"));
    m.props.Set(0x00390040, mapi::Filetime{kTicks2020 + static_cast<std::uint64_t>(n) * 600000000ull});
    m.props.Set(0x0E060040, mapi::Filetime{kTicks2020 + static_cast<std::uint64_t>(n) * 600000000ull + 10000000});
    m.props.Set(0x0E070003, std::int32_t{1});
    mapi::Recipient to;
    to.props.Set(0x3001001F, std::string("Bob Receiver"));
    to.props.Set(0x3003001F, std::string("bob@example.com"));
    to.props.Set(0x3002001F, std::string("SMTP"));
    to.props.Set(0x0C150003, std::int32_t{1});
    m.recipients.push_back(std::move(to));
    return m;
}

}  // namespace pst_test

namespace pst_test {

inline mapi::Binary Pattern(std::size_t size, std::uint8_t seed) {
    mapi::Binary b(size);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& c : b) {
        x = x * 1103515245u + 12345u;
        c = static_cast<std::uint8_t>(x >> 16);
    }
    return b;
}

inline mapi::Attachment FileAttachment(const std::string& name, mapi::Binary data) {
    mapi::Attachment a;
    a.props.Set(0x3704001F, name);
    a.props.Set(0x3707001F, name);
    a.props.Set(0x3001001F, name);
    a.props.Set(0x37050003, std::int32_t{1});
    a.props.Set(0x37010102, std::move(data));
    return a;
}

// A message with an HTML body, two attachments (one larger than a block) and an embedded
// message that has an attachment of its own.
inline mapi::Message RichMessage() {
    mapi::Message m = MakeMessage("Rich message \xC3\xA9t\xC3\xA9", "Plain body with accents: \xC3\xA0\xC3\xA9\xC3\xAE\r\n", 3);
    std::string html = "<html><body><p>HTML body</p></body></html>";
    m.props.Set(0x10130102, mapi::Binary(html.begin(), html.end()));
    mapi::Recipient cc;
    cc.props.Set(0x3001001F, std::string("Carol Copy"));
    cc.props.Set(0x3003001F, std::string("carol@example.com"));
    cc.props.Set(0x3002001F, std::string("SMTP"));
    cc.props.Set(0x0C150003, std::int32_t{2});
    m.recipients.push_back(std::move(cc));
    m.attachments.push_back(FileAttachment("small.txt", Pattern(100, 1)));
    m.attachments.push_back(FileAttachment("large.bin", Pattern(50000, 2)));
    mapi::Attachment emb;
    emb.props.Set(0x3001001F, std::string("Inner subject"));
    emb.props.Set(0x37050003, std::int32_t{5});
    emb.embedded = std::make_unique<mapi::Message>(MakeMessage("Inner subject", "Inner body\r\n", 4));
    emb.embedded->attachments.push_back(FileAttachment("inner.dat", Pattern(5000, 3)));
    m.attachments.push_back(std::move(emb));
    mapi::NamedProperty np;
    np.property_set = {0x29, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
    np.name = "x-ombrik-test";
    np.type = mapi::PropType::Unicode;
    m.props.SetNamed(np, std::string("named value"));
    mapi::NamedProperty lid;
    lid.property_set = {0x03, 0x20, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
    lid.lid = 0x8233;
    lid.type = mapi::PropType::Int32;
    m.props.SetNamed(lid, std::int32_t{42});
    return m;
}

}  // namespace pst_test
