// Writes the seed corpus of fuzz_pst: stores made by our own writer, cut after their last
// non-zero byte (the fuzz target pads them back to a whole first section).
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "pst_test_util.h"
#include "store/pst/messaging/store.h"

namespace {

void WriteSeed(const std::string& dir, const std::string& name, pst::ndb::CryptMethod method, bool with_mail) {
    const std::string path = dir + "/" + name;
    {
        auto store = pst::messaging::Store::Create(path, "Seed", method);
        if (with_mail) {
            auto inbox = store->AddFolder(store->ipm_subtree(), "Inbox.dbx");
            auto sub = store->AddFolder(inbox, "Sub");
            store->AddMessage(inbox, pst_test::MakeMessage("First", "Body one\r\n", 1));
            store->AddMessage(sub, pst_test::MakeMessage("Second", "Body two\r\n", 2));
            auto rich = pst_test::RichMessage();
            rich.attachments.erase(rich.attachments.begin() + 1);  // the 50 KB one: seeds stay small
            store->AddMessage(inbox, rich);
        }
        store->Close();
    }
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    const auto last = bytes.find_last_not_of('\0');
    bytes.resize(last == std::string::npos ? 0 : last + 1);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    WriteSeed(argv[1], "empty.pst", pst::ndb::CryptMethod::Permute, false);
    WriteSeed(argv[1], "mail.pst", pst::ndb::CryptMethod::Permute, true);
    WriteSeed(argv[1], "mail-plain.pst", pst::ndb::CryptMethod::None, true);
    return 0;
}
