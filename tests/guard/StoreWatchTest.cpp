// The watch of the stored list's key: followed while it is missing, made
// level by level, deleted and made anew, and read only once it is quiet.
#include "guard/StoreWatch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "store/Registry.h"
#include "tests/support/TestSupport.h"

using namespace vaultmere;
using namespace testing_support;

namespace {

class StoreWatchTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(Registry::CreateRegistryKey(HKEY_LOCAL_MACHINE, root_)); }
    void TearDown() override {
        watch_.Stop();
        Registry::DeleteRegistryTree(HKEY_LOCAL_MACHINE, root_);
    }
    // Something happens, and the watch says settled after it.
    template <typename Act>
    bool SettlesAfter(Act act) {
        const int before = settled_;
        act();
        return WaitUntil([&] { return settled_ > before; }, 10000);
    }
    bool Write(const std::wstring& name) {
        return static_cast<bool>(
            Registry::SetRegistryValue(HKEY_LOCAL_MACHINE, key_, name, Registry::RegistryValue::FromText(name)));
    }

    const std::wstring root_ = L"SOFTWARE\\VaultmereWatchTest-" + std::to_wstring(::GetCurrentProcessId());
    const std::wstring key_ = root_ + L"\\Store\\Files";
    std::atomic<int> touched_{0};
    std::atomic<int> settled_{0};
    // How many values the key held at each settle.
    std::atomic<std::size_t> valuesAtSettle_{0};
    StoreWatch watch_{key_, 300,
                      StoreWatch::Callbacks{[this] { ++touched_; },
                                            [this] {
                                                valuesAtSettle_ =
                                                    Registry::ReadAllValues(HKEY_LOCAL_MACHINE, key_).size();
                                                ++settled_;
                                            }}};
};

}  // namespace

TEST_F(StoreWatchTest, AMissingKeyIsFollowedLevelByLevelDeletedAndMadeAnewAndReadOnceQuiet) {
    ASSERT_TRUE(SettlesAfter([&] { ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), watch_.Start()); }))
        << "the first look";
    // Its parent made first, then the key: each seen from the level above.
    EXPECT_TRUE(SettlesAfter([&] { Registry::CreateRegistryKey(HKEY_LOCAL_MACHINE, root_ + L"\\Store"); }));
    EXPECT_TRUE(SettlesAfter([&] { Registry::CreateRegistryKey(HKEY_LOCAL_MACHINE, key_); }));
    EXPECT_TRUE(SettlesAfter([&] { Write(L"File0"); })) << "a value of the key made last";
    EXPECT_EQ(1u, valuesAtSettle_.load());

    // Deleted with its parent, then both made at once with their values
    // written one after another: read once whole.
    EXPECT_TRUE(SettlesAfter([&] { Registry::DeleteRegistryTree(HKEY_LOCAL_MACHINE, root_ + L"\\Store"); }));
    EXPECT_EQ(0u, valuesAtSettle_.load());
    const int touched = touched_;
    EXPECT_TRUE(SettlesAfter([&] {
        for (int i = 0; i < 5; ++i) Write(L"File" + std::to_wstring(i));
    }));
    EXPECT_GT(touched_.load(), touched);
    EXPECT_EQ(5u, valuesAtSettle_.load());
    EXPECT_TRUE(SettlesAfter([&] { Write(L"File5"); })) << "the key made anew is watched";
    EXPECT_EQ(6u, valuesAtSettle_.load());
}
