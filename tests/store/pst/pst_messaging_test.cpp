#include <gtest/gtest.h>

#include "pst_test_util.h"
#include "store/pst/messaging/store.h"

using namespace pst;
using namespace pst_test;

TEST(PstStore, MinimalStorePassesStrictCheck) {
    auto dir = ScratchDir("minimal");
    auto path = dir / "min.pst";
    {
        auto store = messaging::Store::Create(path.string(), "Minimal");
        auto folder = store->AddFolder(store->ipm_subtree(), "Inbox.dbx");
        store->AddMessage(folder, MakeMessage("Hello", "Body text\r\n"));
        store->Close();
    }
    if (!HavePstCheck()) GTEST_SKIP() << "checker absent";
    EXPECT_EQ(PstCheckFailure(path), "");
}

TEST(PstStore, RichAndManyMessages) {
    auto dir = ScratchDir("rich");
    auto path = dir / "rich.pst";
    {
        auto store = messaging::Store::Create(path.string(), "Rich");
        auto folder = store->AddFolder(store->ipm_subtree(), "Rich.dbx");
        store->AddMessage(folder, RichMessage());
        auto many = store->AddFolder(store->ipm_subtree(), "Many.dbx");
        for (int i = 0; i < 3000; ++i) store->AddMessage(many, MakeMessage("Message " + std::to_string(i), "Body " + std::to_string(i) + "\r\n", i));
        store->Close();
    }
    if (!HavePstCheck()) GTEST_SKIP() << "checker absent";
    EXPECT_EQ(PstCheckFailure(path), "");
}
