// The ZIP reader on archives written here: layouts it reads, damage it notices, the caller's limits.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Paths.h"
#include "TempHome.h"
#include "ZipArchive.h"
#include "ZipWriter.h"

namespace lumivale {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;
using test::WriteZip;
using Entries = std::vector<std::pair<std::string, std::string>>;

// Bytes that deflate poorly, longer than a few 64 KiB pieces.
std::string Noise(std::size_t size) {
    std::string bytes(size, '\0');
    std::uint32_t state = 12345;
    for (char& c : bytes) {
        state = state * 1664525u + 1013904223u;
        c = static_cast<char>(state >> 24);
    }
    return bytes;
}

const Entries kEntries = {{"folder/", ""},
                          {"empty.txt", ""},
                          {"资料/说明.txt", "中文内容\r\n"},
                          {"big.bin", Noise(300'000)},
                          {"zeros.bin", std::string(200'000, '\0')},
                          // Its compressed bytes run out while inflating still has megabytes to give.
                          {"run.log", std::string((1 << 20) + 1, 't')}};

class ZipArchiveTest : public ::testing::Test {
protected:
    test::TempHome home_;
    fs::path folder_ = home_.root() / Utf8Path("压缩包");
};

TEST_F(ZipArchiveTest, DeflatedStoredAndZip64ArchivesReadBackEntryForEntry) {
    for (const test::ZipWriteOptions options : {test::ZipWriteOptions{}, test::ZipWriteOptions{true, false},
                                                test::ZipWriteOptions{false, true}}) {
        const std::string label = std::string(options.store ? "stored" : "deflated") + (options.zip64 ? " zip64" : "");
        const fs::path file = folder_ / ("包 " + label + ".zip");
        WriteZip(file, kEntries, options);
        const auto archive = ZipArchive::Open(file);
        ASSERT_TRUE(archive.has_value()) << label;
        ASSERT_EQ(archive->Count(), kEntries.size()) << label;
        EXPECT_EQ(archive->TotalSize(), 300'000u + 200'000u + (1u << 20) + 1 + std::string("中文内容\r\n").size());
        for (std::uint64_t i = 0; i < kEntries.size(); ++i) {
            const auto& [name, content] = kEntries[i];
            const auto entry = archive->At(i);
            ASSERT_TRUE(entry.has_value());
            EXPECT_EQ(entry->name, name);
            EXPECT_EQ(entry->isDirectory, name.back() == '/');
            EXPECT_EQ(entry->size, content.size());
            EXPECT_EQ(archive->Find(name), i);
            EXPECT_EQ(archive->Read(i), content) << label << " " << name;
            std::size_t largest = 0;
            EXPECT_TRUE(archive->Stream(i, [&](std::string_view piece) {
                largest = std::max(largest, piece.size());
                return true;
            }));
            EXPECT_LE(largest, 64u * 1024);
            if (entry->isDirectory) continue;
            const fs::path target = folder_ / "out" / Utf8Path(name);
            fs::create_directories(target.parent_path());
            ASSERT_TRUE(archive->ExtractTo(i, target)) << label << " " << name;
            EXPECT_EQ(ReadFile(target), content);
        }
        EXPECT_FALSE(archive->Find("missing").has_value());
        EXPECT_FALSE(archive->At(kEntries.size()).has_value());
        EXPECT_FALSE(archive->Read(3, 1000).has_value());  // more than the caller wants in memory
    }
}

// Entries whose bytes disagree with their announced size: the Zip fuzz target.
TEST_F(ZipArchiveTest, DamageIsFoundAndLeavesTheTargetAsItWas) {
    const fs::path good = folder_ / "good.zip";
    WriteZip(good, {{"a.txt", Noise(100'000)}, {"b.txt", "second"}});
    const std::string bytes = ReadFile(good);
    const std::size_t directory = bytes.rfind(std::string("PK\x01\x02", 4), bytes.rfind(std::string("PK\x01\x02", 4)) - 1);
    const struct {
        const char* what;
        std::function<void(std::string&)> damage;
    } cases[] = {
        {"a flipped data byte", [](std::string& b) { b[30 + 5 + 5000] ^= 0x40; }},
        {"a wrong CRC-32", [&](std::string& b) { b[directory + 16] ^= 0x01; }},
        {"an unknown method", [&](std::string& b) { b[directory + 10] = 12; }},
        {"encryption", [&](std::string& b) { b[directory + 8] |= 0x01; }},
    };
    const fs::path target = folder_ / "a.txt";
    for (const auto& c : cases) {
        std::string damaged = bytes;
        c.damage(damaged);
        WriteFile(folder_ / "damaged.zip", damaged);
        const auto archive = ZipArchive::Open(folder_ / "damaged.zip");
        ASSERT_TRUE(archive.has_value()) << c.what;
        WriteFile(target, "old");
        EXPECT_FALSE(archive->ExtractTo(0, target)) << c.what;
        EXPECT_EQ(ReadFile(target), "old") << c.what;
        EXPECT_FALSE(fs::exists(folder_ / "a.txt.tmp")) << c.what;
        EXPECT_FALSE(archive->Read(0).has_value()) << c.what;
        EXPECT_EQ(archive->Read(1), "second") << c.what;
    }
    const struct {
        const char* what;
        std::string bytes;
        ZipRefusal refusal;
    } refused[] = {{"cut short", bytes.substr(0, bytes.size() - 30), ZipRefusal::NotAZip},
                   {"not a zip", "just some text, no directory", ZipRefusal::NotAZip},
                   {"empty", "", ZipRefusal::NotAZip}};
    for (const auto& r : refused) {
        WriteFile(folder_ / "bad.zip", r.bytes);
        ZipRefusal refusal = ZipRefusal::None;
        EXPECT_FALSE(ZipArchive::Open(folder_ / "bad.zip", {}, &refusal).has_value()) << r.what;
        EXPECT_EQ(refusal, r.refusal) << r.what;
    }
    ZipRefusal refusal = ZipRefusal::None;
    EXPECT_FALSE(ZipArchive::Open(folder_ / "missing.zip", {}, &refusal).has_value());
    EXPECT_EQ(refusal, ZipRefusal::Unreadable);
}

TEST_F(ZipArchiveTest, ArchivesBeyondTheCallersLimitsAreRefusedAsAWhole) {
    const fs::path file = folder_ / "limits.zip";
    WriteZip(file, {{"zeros.bin", std::string(1 << 20, '\0')}, {"text.txt", Noise(1000)}});
    const struct {
        ZipLimits limits;
        ZipRefusal refusal;
    } cases[] = {{{}, ZipRefusal::None},
                 {{(1 << 20) + 1000, 0}, ZipRefusal::None},
                 {{(1 << 20) + 999, 0}, ZipRefusal::TooLarge},
                 {{0, 2000}, ZipRefusal::None},  // a megabyte of zeros deflates to about a kilobyte
                 {{0, 100}, ZipRefusal::RatioTooHigh}};
    for (const auto& c : cases) {
        ZipRefusal refusal = ZipRefusal::Unreadable;
        EXPECT_EQ(ZipArchive::Open(file, c.limits, &refusal).has_value(), c.refusal == ZipRefusal::None);
        EXPECT_EQ(refusal, c.refusal) << c.limits.maxTotalSize << " " << c.limits.maxRatio;
    }
}

}  // namespace
}  // namespace lumivale
