// One launcher per program folder (named mutex and wake event), and the small system facts.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "Paths.h"
#include "SingleInstance.h"
#include "SystemInfo.h"
#include "TempHome.h"
#include "Uuid.h"

namespace lumivale {
namespace {

TEST(Win32SingleInstance, ASecondStartOnTheSameFolderWakesTheFirstOthersRunAlongside) {
    test::TempHome home;
    const auto folder = home.root() / Utf8Path("程序");
    std::atomic<int> wakes{0};
    {
        SingleInstance first(folder);
        ASSERT_TRUE(first.IsFirst());
        first.ListenForWake([&] { ++wakes; });
        SingleInstance second(Utf8Path(PathUtf8(folder) + "\\"));  // the same folder, written differently
        EXPECT_FALSE(second.IsFirst());
        EXPECT_TRUE(second.WakeFirst());
        for (int i = 0; i < 3000 && wakes == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(wakes, 1);
        SingleInstance elsewhere(home.root() / "other");
        EXPECT_TRUE(elsewhere.IsFirst());
    }
    SingleInstance again(folder);  // the first one's end frees the folder
    EXPECT_TRUE(again.IsFirst());
    EXPECT_FALSE(again.WakeFirst());  // nobody listens
}

TEST(Win32System, MemoryAndUuidsComeFromTheSystem) {
    EXPECT_GT(TotalPhysicalMemoryBytes(), 64ull << 20);
    const auto a = NewUuid();
    const auto b = NewUuid();
    ASSERT_TRUE(a && b);
    EXPECT_NE(*a, *b);
    EXPECT_EQ(a->size(), 36u);
    EXPECT_EQ((*a)[14], '4');
}

}  // namespace
}  // namespace lumivale
