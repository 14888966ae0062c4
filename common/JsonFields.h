#pragma once
// UI commands are read one member at a time by these scanners (no document is parsed), and UI
// events are assembled from fixed fragments with values escaped by the two escapers.
#include <cstdint>
#include <string>
#include <string_view>

namespace lumivale {

// The string value of "key": found at the first occurrence of the quoted key anywhere in the
// text, then the first ':' and the first '"' after it. Escapes are decoded. Empty when missing
// or unterminated.
std::string ReadTextField(std::string_view text, std::string_view key);

// The integer after "key": up to the next ',' or '}', decimal, leading blanks skipped, longest
// valid prefix. 0 when missing, without digits, or out of the 64-bit range.
std::int64_t ReadIntField(std::string_view text, std::string_view key);

// The whole array after "key": (no blanks between), brackets included, counted naively (brackets
// inside strings count too). Empty when missing or unterminated.
std::string ReadArrayField(std::string_view text, std::string_view key);

// The body of a JSON string holding `text`, valid JSON whatever the bytes: '"' and '\' escaped,
// \n \r \t \b \f for those controls and \u00XX for the others, and every byte that starts no
// well-formed UTF-8 sequence replaced by U+FFFD. (The two names once escaped differently; an event
// built from a folder name or a server's message must never come out as invalid JSON.)
std::string EscapeJsonText(std::string_view text);
std::string EscapeJsonBasic(std::string_view text);

}  // namespace lumivale
