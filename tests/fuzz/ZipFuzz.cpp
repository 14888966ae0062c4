// Any file is opened as a zip without faults: every entry streams to its announced size or fails,
// never gives more, and extracting one never leaves a file of other bytes behind.
#include <fstream>

#include "FuzzTarget.h"
#include "ZipArchive.h"

using namespace lumivale;
using lumivale::fuzz::FuzzCheck;

LUMIVALE_FUZZ_TARGET(Zip) {
    const auto file = fuzz::ScratchFolder() / "pack.zip";
    std::ofstream(file, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data),
                                                                   static_cast<std::streamsize>(size));
    const auto archive = ZipArchive::Open(file, ZipLimits{64u << 20, 0, 0});
    if (!archive) return 0;
    for (std::uint64_t i = 0; i < archive->Count() && i < 16; ++i) {
        const auto entry = archive->At(i);
        FuzzCheck(entry.has_value(), "every listed entry can be looked at");
        std::uint64_t streamed = 0;
        const bool whole = archive->Stream(i, [&](std::string_view piece) {
            streamed += piece.size();
            return streamed <= entry->size;
        });
        FuzzCheck(!whole || streamed == entry->size, "a whole entry is exactly its announced size");
        const auto target = fuzz::ScratchFolder() / "entry";
        std::error_code ignored;
        std::filesystem::remove(target, ignored);
        if (archive->ExtractTo(i, target)) {
            FuzzCheck(std::filesystem::file_size(target) == entry->size, "an extracted entry has its size");
        } else {
            FuzzCheck(!std::filesystem::exists(target), "a failed extraction leaves nothing");
        }
    }
    return 0;
}
