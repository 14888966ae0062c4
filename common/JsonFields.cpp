#include "JsonFields.h"

#include <cerrno>
#include <cstdlib>
#include <optional>

namespace lumivale {

namespace {

std::string Quoted(std::string_view key) {
    std::string pattern;
    pattern.reserve(key.size() + 2);
    pattern += '"';
    pattern += key;
    pattern += '"';
    return pattern;
}

void AppendUtf8(std::string& out, char32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

std::optional<char32_t> Hex4(std::string_view text, std::size_t at) {
    if (at + 4 > text.size()) return std::nullopt;
    char32_t value = 0;
    for (std::size_t i = at; i < at + 4; ++i) {
        const char c = text[i];
        value <<= 4;
        if (c >= '0' && c <= '9') value |= static_cast<char32_t>(c - '0');
        else if (c >= 'a' && c <= 'f') value |= static_cast<char32_t>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F') value |= static_cast<char32_t>(c - 'A' + 10);
        else return std::nullopt;
    }
    return value;
}

constexpr char32_t kReplacement = 0xFFFD;

// Reads the JSON string whose opening quote is at `open`; nothing when it never closes.
std::optional<std::string> ReadJsonString(std::string_view text, std::size_t open) {
    std::string out;
    for (std::size_t i = open + 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') return out;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i >= text.size()) return std::nullopt;
        switch (text[i]) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                const auto unit = Hex4(text, i + 1);
                if (!unit) {  // not an escape after all: keep what stands there
                    out += 'u';
                    break;
                }
                i += 4;
                char32_t code = *unit;
                if (code >= 0xD800 && code <= 0xDBFF) {
                    const auto low = (i + 2 < text.size() && text[i + 1] == '\\' && text[i + 2] == 'u')
                                         ? Hex4(text, i + 3)
                                         : std::nullopt;
                    if (low && *low >= 0xDC00 && *low <= 0xDFFF) {
                        code = 0x10000 + ((code - 0xD800) << 10) + (*low - 0xDC00);
                        i += 6;
                    } else {
                        code = kReplacement;  // a lone high surrogate
                    }
                } else if (code >= 0xDC00 && code <= 0xDFFF) {
                    code = kReplacement;  // a lone low surrogate
                }
                AppendUtf8(out, code);
                break;
            }
            default: out += text[i]; break;  // an unknown escape keeps its character
        }
    }
    return std::nullopt;
}

// The length of the well-formed UTF-8 sequence that starts at `at` (no overlong forms, no
// surrogates, nothing above U+10FFFF), or 0 when the byte there starts none.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    if (byte(at + 1) < low || byte(at + 1) > high) return 0;
    for (std::size_t i = at + 2; i < at + length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
    }
    return length;
}

}  // namespace

std::string ReadTextField(std::string_view text, std::string_view key) {
    const std::size_t at = text.find(Quoted(key));
    if (at == std::string_view::npos) return {};
    const std::size_t colon = text.find(':', at);
    if (colon == std::string_view::npos) return {};
    const std::size_t open = text.find('"', colon + 1);
    if (open == std::string_view::npos) return {};
    return ReadJsonString(text, open).value_or(std::string());
}

std::int64_t ReadIntField(std::string_view text, std::string_view key) {
    const std::size_t at = text.find(Quoted(key));
    if (at == std::string_view::npos) return 0;
    const std::size_t colon = text.find(':', at);
    if (colon == std::string_view::npos) return 0;
    const std::size_t end = text.find_first_of(",}", colon + 1);
    const std::string number(text.substr(colon + 1, end == std::string_view::npos ? end : end - colon - 1));
    errno = 0;
    char* stop = nullptr;
    const long long value = std::strtoll(number.c_str(), &stop, 10);
    if (stop == number.c_str() || errno == ERANGE) return 0;
    return value;
}

std::string ReadArrayField(std::string_view text, std::string_view key) {
    const std::size_t at = text.find(Quoted(key) + ':');
    if (at == std::string_view::npos) return {};
    const std::size_t open = text.find('[', at);
    if (open == std::string_view::npos) return {};
    int depth = 0;
    for (std::size_t i = open; i < text.size(); ++i) {
        if (text[i] == '[') ++depth;
        else if (text[i] == ']' && --depth == 0) return std::string(text.substr(open, i - open + 1));
    }
    return {};
}

std::string EscapeJsonBasic(std::string_view text) { return EscapeJsonText(text); }

std::string EscapeJsonText(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size() + 8);
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            const std::size_t length = Utf8SequenceLength(text, i);
            if (length == 0) {
                out += "\xEF\xBF\xBD";  // U+FFFD for a byte that starts no valid sequence
                ++i;
            } else {
                out.append(text.substr(i, length));
                i += length;
            }
            continue;
        }
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            default:
                if (c < 0x20) {
                    out += "\\u00";
                    out += kHex[c >> 4];
                    out += kHex[c & 0xF];
                } else {
                    out += static_cast<char>(c);
                }
                break;
        }
        ++i;
    }
    return out;
}

}  // namespace lumivale
