#include "Deflate.h"

#include <zlib.h>

#include <limits>

namespace lumivale {

std::uint32_t Crc32(std::string_view bytes) {
    uLong crc = crc32(0L, Z_NULL, 0);
    const auto* data = reinterpret_cast<const Bytef*>(bytes.data());
    std::size_t left = bytes.size();
    while (left > 0) {  // crc32 takes at most a uInt at a time
        const uInt part = left > std::numeric_limits<uInt>::max() ? std::numeric_limits<uInt>::max()
                                                                   : static_cast<uInt>(left);
        crc = crc32(crc, data, part);
        data += part;
        left -= part;
    }
    return static_cast<std::uint32_t>(crc);
}

std::optional<std::string> DeflateRaw(std::string_view bytes) {
    if (bytes.size() > std::numeric_limits<uInt>::max() / 2) return std::nullopt;
    z_stream stream{};
    // Negative window bits: a raw stream, as zip entries store it.
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        return std::nullopt;
    }
    std::string out(deflateBound(&stream, static_cast<uLong>(bytes.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream.avail_in = static_cast<uInt>(bytes.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int result = deflate(&stream, Z_FINISH);
    const uLong written = stream.total_out;
    deflateEnd(&stream);
    if (result != Z_STREAM_END) return std::nullopt;
    out.resize(written);
    return out;
}

}  // namespace lumivale
