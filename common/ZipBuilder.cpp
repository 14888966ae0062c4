#include "ZipBuilder.h"

#include <limits>

#include "Deflate.h"

namespace lumivale {

namespace {

constexpr std::uint16_t kVersionNeeded = 20;   // 2.0: deflate
constexpr std::uint16_t kUtf8NameFlag = 0x0800;
constexpr std::uint64_t kLimit = std::numeric_limits<std::uint32_t>::max();

void Put16(std::string& out, std::uint16_t value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>(value >> 8);
}

void Put32(std::string& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out += static_cast<char>((value >> shift) & 0xFF);
}

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void CivilFromDays(std::int64_t days, int& year, unsigned& month, unsigned& day) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned mp = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * mp + 2) / 5 + 1;
    month = mp < 10 ? mp + 3 : mp - 9;
    year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
}

bool UsableName(std::string_view name) {
    if (name.empty() || name.front() == '/' || name.front() == '\\' || name.find(':') != std::string_view::npos) {
        return false;
    }
    std::size_t start = 0;
    while (start <= name.size()) {
        const std::size_t end = name.find_first_of("/\\", start);
        const std::string_view part = name.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (part == ".." || part == "." || part.empty()) return false;
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    return true;
}

}  // namespace

ZipBuilder::ZipBuilder(std::int64_t unixSeconds) {
    // The zip format cannot hold times before 1980; such times become 1980-01-01.
    constexpr std::int64_t k1980 = 315532800;
    if (unixSeconds < k1980) unixSeconds = k1980;
    int year = 1980;
    unsigned month = 1, day = 1;
    CivilFromDays(unixSeconds / 86400, year, month, day);
    const auto secondsOfDay = static_cast<unsigned>(unixSeconds % 86400);
    if (year > 2107) year = 2107;
    dosDate_ = static_cast<std::uint16_t>(((year - 1980) << 9) | (month << 5) | day);
    dosTime_ = static_cast<std::uint16_t>(((secondsOfDay / 3600) << 11) | ((secondsOfDay / 60 % 60) << 5) |
                                          (secondsOfDay % 60 / 2));
}

bool ZipBuilder::Add(std::string_view name, std::string_view bytes) {
    if (!UsableName(name) || name.size() > 0xFFFF || bytes.size() >= kLimit || entries_.size() >= 0xFFFF) {
        return false;
    }
    Entry entry;
    entry.name = std::string(name);
    entry.crc = Crc32(bytes);
    entry.size = static_cast<std::uint32_t>(bytes.size());
    const std::optional<std::string> packed = DeflateRaw(bytes);
    const bool deflated = packed && packed->size() < bytes.size();
    const std::string_view data = deflated ? std::string_view(*packed) : bytes;
    entry.method = deflated ? 8 : 0;
    entry.storedSize = static_cast<std::uint32_t>(data.size());
    // The central directory adds 46 bytes and the name again per entry, and its end record 22.
    const std::uint64_t after = body_.size() + 30 + name.size() + data.size();
    std::uint64_t directory = 22;
    for (const Entry& e : entries_) directory += 46 + e.name.size();
    if (after + directory + 46 + name.size() >= kLimit) return false;
    entry.offset = static_cast<std::uint32_t>(body_.size());

    Put32(body_, 0x04034b50);
    Put16(body_, kVersionNeeded);
    Put16(body_, kUtf8NameFlag);
    Put16(body_, entry.method);
    Put16(body_, dosTime_);
    Put16(body_, dosDate_);
    Put32(body_, entry.crc);
    Put32(body_, entry.storedSize);
    Put32(body_, entry.size);
    Put16(body_, static_cast<std::uint16_t>(entry.name.size()));
    Put16(body_, 0);
    body_ += entry.name;
    body_.append(data);
    entries_.push_back(std::move(entry));
    return true;
}

std::string ZipBuilder::Finish() const {
    std::string out = body_;
    const auto directoryStart = static_cast<std::uint32_t>(out.size());
    for (const Entry& entry : entries_) {
        Put32(out, 0x02014b50);
        Put16(out, kVersionNeeded);
        Put16(out, kVersionNeeded);
        Put16(out, kUtf8NameFlag);
        Put16(out, entry.method);
        Put16(out, dosTime_);
        Put16(out, dosDate_);
        Put32(out, entry.crc);
        Put32(out, entry.storedSize);
        Put32(out, entry.size);
        Put16(out, static_cast<std::uint16_t>(entry.name.size()));
        Put16(out, 0);  // extra field
        Put16(out, 0);  // comment
        Put16(out, 0);  // disk
        Put16(out, 0);  // internal attributes
        Put32(out, 0);  // external attributes
        Put32(out, entry.offset);
        out += entry.name;
    }
    const auto directorySize = static_cast<std::uint32_t>(out.size() - directoryStart);
    Put32(out, 0x06054b50);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, static_cast<std::uint16_t>(entries_.size()));
    Put16(out, static_cast<std::uint16_t>(entries_.size()));
    Put32(out, directorySize);
    Put32(out, directoryStart);
    Put16(out, 0);
    return out;
}

}  // namespace lumivale
