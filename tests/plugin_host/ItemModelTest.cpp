// Item types, clean-request list cursor.
#include <gtest/gtest.h>

#include "plugin_host/CleanRequestList.h"
#include "plugin_host/ItemTypeRegistry.h"

TEST(ItemTypeRegistry, PluginNamesGetIdsFrom4097AndKnownNamesKeepTheirs) {
    ItemTypeRegistry registry;  // a fresh one; the process-wide instance may already hold names
    EXPECT_EQ(2, registry.RegisterTypeName(L"File"));
    EXPECT_EQ(4097, registry.RegisterTypeName(L"PLUGIN FOR GRIMLET"));
    EXPECT_EQ(4097, registry.RegisterTypeName(L"PLUGIN FOR GRIMLET"));
    EXPECT_EQ(4098, registry.RegisterTypeName(L"plugin for grimlet"));  // exact comparison
    EXPECT_EQ(4099, registry.RegisterTypeName(L"File "));
    EXPECT_FALSE(registry.NameOf(7).has_value());
    EXPECT_FALSE(registry.NameOf(8).has_value());
    EXPECT_EQ(L"InformationFeedBack", registry.NameOf(11).value());
    EXPECT_EQ(L"plugin for grimlet", registry.NameOf(4098).value());
    EXPECT_FALSE(registry.Find(L"file").has_value());
}

TEST(CleanRequestList, TheCursorWalksOnceAndRestartsAtFirst) {
    CleanRequestList list;
    EXPECT_EQ(nullptr, list.First());
    EXPECT_EQ(nullptr, list.Next());
    for (int32_t id : {4, 5, 6}) {
        CleanRequest request;
        request.itemId = id;
        list.Append(request);
    }
    std::vector<int32_t> seen;
    for (CleanRequest* request = list.First(); request; request = list.Next()) seen.push_back(request->itemId);
    EXPECT_EQ((std::vector<int32_t>{4, 5, 6}), seen);
    EXPECT_EQ(nullptr, list.Next());
    EXPECT_EQ(nullptr, list.Current());
    ASSERT_NE(nullptr, list.First());
    EXPECT_EQ(4, list.Current()->itemId);
}
