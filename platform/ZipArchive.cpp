#include "ZipArchive.h"

#include <zlib.h>

#include <algorithm>
#include <fstream>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "Files.h"

namespace lumivale {

namespace {

constexpr std::uint32_t kLocalHeader = 0x04034b50;
constexpr std::uint32_t kCentralHeader = 0x02014b50;
constexpr std::uint32_t kEndRecord = 0x06054b50;
constexpr std::uint32_t kZip64EndRecord = 0x06064b50;
constexpr std::uint32_t kZip64Locator = 0x07064b50;
constexpr std::size_t kEndRecordSize = 22;
constexpr std::size_t kMaxCommentSize = 65535;
constexpr std::size_t kPiece = 64 * 1024;
// A central directory larger than this is not believed (millions of entries).
constexpr std::uint64_t kMaxDirectorySize = 512ull << 20;

std::uint64_t Le(const unsigned char* bytes, int size) {
    std::uint64_t value = 0;
    for (int i = size - 1; i >= 0; --i) value = (value << 8) | bytes[i];
    return value;
}

struct Record {
    std::string name;
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint32_t crc = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t size = 0;
    std::uint64_t localOffset = 0;
};

// Reads `size` bytes at `offset`; false on a short read.
bool ReadAt(std::ifstream& in, std::uint64_t offset, unsigned char* out, std::size_t size) {
    in.clear();
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(size));
    return static_cast<std::size_t>(in.gcount()) == size;
}

// The ZIP64 extra field holds, in this order, each of the three values that read 0xFFFFFFFF.
bool ApplyZip64Extra(const unsigned char* extra, std::size_t length, Record& record) {
    std::size_t at = 0;
    while (at + 4 <= length) {
        const auto id = static_cast<std::uint16_t>(Le(extra + at, 2));
        const auto size = static_cast<std::size_t>(Le(extra + at + 2, 2));
        if (at + 4 + size > length) return false;
        if (id == 0x0001) {
            std::size_t field = at + 4;
            const std::size_t end = at + 4 + size;
            for (std::uint64_t* value : {&record.size, &record.compressedSize, &record.localOffset}) {
                if (*value != 0xFFFFFFFFu) continue;
                if (field + 8 > end) return false;
                *value = Le(extra + field, 8);
                field += 8;
            }
            return true;
        }
        at += 4 + size;
    }
    return record.size != 0xFFFFFFFFu && record.compressedSize != 0xFFFFFFFFu &&
           record.localOffset != 0xFFFFFFFFu;
}

struct Directory {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::uint64_t count = 0;
};

// Finds the end record (and its ZIP64 form) in the last 64 KiB of the file.
std::optional<Directory> FindDirectory(std::ifstream& in, std::uint64_t fileSize) {
    if (fileSize < kEndRecordSize) return std::nullopt;
    const std::uint64_t tail = std::min<std::uint64_t>(fileSize, kEndRecordSize + kMaxCommentSize);
    std::vector<unsigned char> bytes(static_cast<std::size_t>(tail));
    if (!ReadAt(in, fileSize - tail, bytes.data(), bytes.size())) return std::nullopt;
    for (std::size_t at = bytes.size() - kEndRecordSize + 1; at-- > 0;) {
        const unsigned char* end = bytes.data() + at;
        if (Le(end, 4) != kEndRecord) continue;
        Directory directory{Le(end + 16, 4), Le(end + 12, 4), Le(end + 10, 2)};
        const std::uint64_t endOffset = fileSize - tail + at;
        const bool zip64 = directory.offset == 0xFFFFFFFFu || directory.size == 0xFFFFFFFFu ||
                           directory.count == 0xFFFF;
        if (zip64 || endOffset >= 20) {
            unsigned char locator[20];
            if (endOffset >= 20 && ReadAt(in, endOffset - 20, locator, sizeof locator) &&
                Le(locator, 4) == kZip64Locator) {
                unsigned char record[56];
                if (!ReadAt(in, Le(locator + 8, 8), record, sizeof record) ||
                    Le(record, 4) != kZip64EndRecord) {
                    return std::nullopt;
                }
                directory = {Le(record + 48, 8), Le(record + 40, 8), Le(record + 32, 8)};
            } else if (zip64) {
                return std::nullopt;
            }
        }
        if (directory.size > kMaxDirectorySize || directory.offset + directory.size > fileSize) {
            return std::nullopt;
        }
        return directory;
    }
    return std::nullopt;
}

std::optional<std::vector<Record>> ReadDirectory(std::ifstream& in, const Directory& directory) {
    std::vector<unsigned char> bytes(static_cast<std::size_t>(directory.size));
    if (!ReadAt(in, directory.offset, bytes.data(), bytes.size())) return std::nullopt;
    std::vector<Record> records;
    std::size_t at = 0;
    while (at + 46 <= bytes.size() && Le(bytes.data() + at, 4) == kCentralHeader) {
        const unsigned char* header = bytes.data() + at;
        const auto nameLength = static_cast<std::size_t>(Le(header + 28, 2));
        const auto extraLength = static_cast<std::size_t>(Le(header + 30, 2));
        const auto commentLength = static_cast<std::size_t>(Le(header + 32, 2));
        if (at + 46 + nameLength + extraLength + commentLength > bytes.size()) return std::nullopt;
        Record record;
        record.flags = static_cast<std::uint16_t>(Le(header + 8, 2));
        record.method = static_cast<std::uint16_t>(Le(header + 10, 2));
        record.crc = static_cast<std::uint32_t>(Le(header + 16, 4));
        record.compressedSize = Le(header + 20, 4);
        record.size = Le(header + 24, 4);
        record.localOffset = Le(header + 42, 4);
        record.name.assign(reinterpret_cast<const char*>(header + 46), nameLength);
        if (!ApplyZip64Extra(header + 46 + nameLength, extraLength, record)) return std::nullopt;
        records.push_back(std::move(record));
        at += 46 + nameLength + extraLength + commentLength;
    }
    // The count is a cross-check only: some writers wrap it at 65535 without a ZIP64 record.
    if (records.size() % 65536 != directory.count % 65536) return std::nullopt;
    return records;
}

// Hands out the entry's stored bytes piece by piece.
class RawReader {
public:
    RawReader(std::ifstream& in, std::uint64_t offset, std::uint64_t size)
        : in_(in), offset_(offset), left_(size) {}
    // The next piece; empty at the end. `ok` turns false on a short read.
    std::string_view Next(bool& ok) {
        if (left_ == 0) return {};
        const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(left_, buffer_.size()));
        if (!ReadAt(in_, offset_, buffer_.data(), size)) {
            ok = false;
            return {};
        }
        offset_ += size;
        left_ -= size;
        return {reinterpret_cast<const char*>(buffer_.data()), size};
    }

private:
    std::ifstream& in_;
    std::uint64_t offset_;
    std::uint64_t left_;
    std::vector<unsigned char> buffer_ = std::vector<unsigned char>(kPiece);
};

struct Inflater {
    z_stream stream{};
    bool ready = false;
    Inflater() { ready = inflateInit2(&stream, -MAX_WBITS) == Z_OK; }
    ~Inflater() {
        if (ready) inflateEnd(&stream);
    }
};

}  // namespace

struct ZipArchive::Handle {
    mutable std::mutex mutex;  // one reader of the file at a time
    mutable std::ifstream in;
    std::uint64_t fileSize = 0;
    std::vector<Record> records;
    std::unordered_map<std::string, std::uint64_t> byName;
    std::uint64_t totalSize = 0;
};

ZipArchive::ZipArchive(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}
ZipArchive::ZipArchive(ZipArchive&&) noexcept = default;
ZipArchive& ZipArchive::operator=(ZipArchive&&) noexcept = default;
ZipArchive::~ZipArchive() = default;

std::optional<ZipArchive> ZipArchive::Open(const std::filesystem::path& file, const ZipLimits& limits,
                                           ZipRefusal* refusal) {
    auto refuse = [refusal](ZipRefusal why) -> std::optional<ZipArchive> {
        if (refusal != nullptr) *refusal = why;
        return std::nullopt;
    };
    auto handle = std::make_unique<Handle>();
    std::error_code error;
    handle->fileSize = std::filesystem::file_size(file, error);
    if (error) return refuse(ZipRefusal::Unreadable);
    handle->in.open(file, std::ios::binary);
    if (!handle->in) return refuse(ZipRefusal::Unreadable);
    const auto directory = FindDirectory(handle->in, handle->fileSize);
    if (!directory) return refuse(ZipRefusal::NotAZip);
    auto records = ReadDirectory(handle->in, *directory);
    if (!records) return refuse(ZipRefusal::NotAZip);
    handle->records = std::move(*records);
    for (std::uint64_t i = 0; i < handle->records.size(); ++i) {
        const Record& record = handle->records[i];
        handle->byName.emplace(record.name, i);
        // Added up without overflow: a sum past 2^64 is past any limit too.
        handle->totalSize = record.size > UINT64_MAX - handle->totalSize ? UINT64_MAX
                                                                        : handle->totalSize + record.size;
        if (limits.maxRatio > 0 && record.size > 0 && record.size >= limits.ratioFrom &&
            (record.compressedSize == 0 || record.size / record.compressedSize >= limits.maxRatio)) {
            return refuse(ZipRefusal::RatioTooHigh);
        }
    }
    if (limits.maxTotalSize > 0 && handle->totalSize > limits.maxTotalSize) {
        return refuse(ZipRefusal::TooLarge);
    }
    if (refusal != nullptr) *refusal = ZipRefusal::None;
    return ZipArchive(std::move(handle));
}

std::uint64_t ZipArchive::Count() const { return handle_->records.size(); }

std::uint64_t ZipArchive::TotalSize() const { return handle_->totalSize; }

std::optional<ZipArchive::Entry> ZipArchive::At(std::uint64_t index) const {
    if (index >= handle_->records.size()) return std::nullopt;
    const Record& record = handle_->records[index];
    return Entry{record.name, !record.name.empty() && record.name.back() == '/', record.size,
                 record.compressedSize};
}

std::optional<std::uint64_t> ZipArchive::Find(const std::string& name) const {
    const auto found = handle_->byName.find(name);
    if (found == handle_->byName.end()) return std::nullopt;
    return found->second;
}

bool ZipArchive::Stream(std::uint64_t index, const std::function<bool(std::string_view)>& sink) const {
    if (index >= handle_->records.size()) return false;
    const Record& record = handle_->records[index];
    if ((record.flags & 0x0001) != 0 || (record.method != 0 && record.method != 8)) return false;
    std::lock_guard lock(handle_->mutex);
    std::ifstream& in = handle_->in;

    unsigned char local[30];
    if (!ReadAt(in, record.localOffset, local, sizeof local) || Le(local, 4) != kLocalHeader) return false;
    const std::uint64_t dataOffset = record.localOffset + 30 + Le(local + 26, 2) + Le(local + 28, 2);
    if (dataOffset > handle_->fileSize || record.compressedSize > handle_->fileSize - dataOffset) return false;

    RawReader raw(in, dataOffset, record.compressedSize);
    bool ok = true;
    std::uint64_t written = 0;
    uLong crc = crc32(0L, Z_NULL, 0);
    // Every piece is checked against the announced size before it goes out.
    auto deliver = [&](std::string_view piece) {
        if (piece.size() > record.size - written) return false;
        written += piece.size();
        crc = crc32(crc, reinterpret_cast<const Bytef*>(piece.data()), static_cast<uInt>(piece.size()));
        return sink(piece);
    };

    if (record.method == 0) {
        if (record.compressedSize != record.size) return false;
        for (std::string_view piece = raw.Next(ok); ok && !piece.empty(); piece = raw.Next(ok)) {
            if (!deliver(piece)) return false;
        }
    } else {
        Inflater inflater;
        if (!inflater.ready) return false;
        std::vector<unsigned char> out(kPiece);
        int status = Z_OK;
        bool rawDone = false;
        while (status != Z_STREAM_END) {
            if (inflater.stream.avail_in == 0 && !rawDone) {
                const std::string_view piece = raw.Next(ok);
                if (!ok) return false;
                rawDone = piece.empty();
                inflater.stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(piece.data()));
                inflater.stream.avail_in = static_cast<uInt>(piece.size());
            }
            // With all input taken, inflate may still hold output (a long run): it is asked
            // again until it ends the stream or can make no progress (the data ends early).
            inflater.stream.next_out = out.data();
            inflater.stream.avail_out = static_cast<uInt>(out.size());
            status = inflate(&inflater.stream, Z_NO_FLUSH);
            const std::size_t produced = out.size() - inflater.stream.avail_out;
            if (status == Z_BUF_ERROR && produced == 0) return false;
            if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) return false;
            if (produced > 0 && !deliver({reinterpret_cast<const char*>(out.data()), produced})) return false;
        }
    }
    return ok && written == record.size && static_cast<std::uint32_t>(crc) == record.crc;
}

std::optional<std::string> ZipArchive::Read(std::uint64_t index, std::uint64_t maxSize) const {
    const auto entry = At(index);
    if (!entry || entry->size > maxSize) return std::nullopt;
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(entry->size));
    if (!Stream(index, [&bytes](std::string_view piece) {
            bytes.append(piece);
            return true;
        })) {
        return std::nullopt;
    }
    return bytes;
}

bool ZipArchive::ExtractTo(std::uint64_t index, const std::filesystem::path& target) const {
    AtomicFile file(target);
    return file.IsOpen() && Stream(index, [&file](std::string_view piece) { return file.Write(piece); }) &&
           file.Commit();
}

}  // namespace lumivale
