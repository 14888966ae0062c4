// The "sys:memory" event: total memory rounded to whole GiB, and half of it, kept within 2 to 16, recommended.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "SystemReports.h"

namespace lumivale {
namespace {

TEST(SystemReports, MemoryIsRoundedAndHalvedWithinTwoToSixteen) {
    constexpr std::uint64_t kGiB = 1ULL << 30;
    const struct {
        std::uint64_t bytes;
        int total, recommended;
    } cases[] = {{kGiB * 15 / 2, 8, 4}, {3 * kGiB, 3, 2}, {0, 0, 2}, {10 * kGiB, 10, 5}, {33 * kGiB, 33, 16},
                 {kGiB * 5 / 2, 3, 2}, {kGiB * 5 / 2 - 1, 2, 2}, {kGiB * 31 / 2 - 1, 15, 7}};
    for (const auto& c : cases) {
        EXPECT_EQ(MemoryEvent(c.bytes), R"({"type":"sys:memory","totalGB":)" + std::to_string(c.total) +
                                            R"(,"recommendedG":)" + std::to_string(c.recommended) + "}");
    }
}

}  // namespace
}  // namespace lumivale
