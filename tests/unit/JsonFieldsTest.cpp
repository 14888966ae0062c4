// The command scanners and the two event escapers.
#include <gtest/gtest.h>

#include <string>

#include "JsonFields.h"

namespace lumivale {
namespace {

TEST(ReadTextField, DecodesEveryJsonEscape) {
    EXPECT_EQ(ReadTextField(R"({"type":"yggdrasil:login","password":"a\"b\\c"})", "password"),
              "a\"b\\c");
    EXPECT_EQ(ReadTextField(R"({"v":"\/\b\f\n\r\t"})", "v"), "/\b\f\n\r\t");
    // A path as the page sends it: single backslashes escaped once.
    EXPECT_EQ(ReadTextField(R"({"path":"C:\\Games\\pack.zip"})", "path"), "C:\\Games\\pack.zip");
    EXPECT_EQ(ReadTextField(R"({"v":"\u00e9\u4E2D"})", "v"), "\xC3\xA9\xE4\xB8\xAD");
    // Raw UTF-8 passes through unchanged.
    EXPECT_EQ(ReadTextField("{\"name\":\"\xE8\xA7\x92\xE8\x89\xB2\"}", "name"),
              "\xE8\xA7\x92\xE8\x89\xB2");
    EXPECT_EQ(ReadTextField(R"({"v":""})", "v"), "");
}

TEST(ReadTextField, SurrogatePairsAndLoneSurrogates) {
    // U+1F600 as a pair gives one four-byte character.
    EXPECT_EQ(ReadTextField(R"({"v":"\ud83d\ude00!"})", "v"), "\xF0\x9F\x98\x80!");
    // A high surrogate without its partner, at the end or before an ordinary character.
    EXPECT_EQ(ReadTextField(R"({"v":"\ud800"})", "v"), "\xEF\xBF\xBD");
    EXPECT_EQ(ReadTextField(R"({"v":"\ud800x"})", "v"), "\xEF\xBF\xBDx");
    // A high surrogate followed by an escape that is not a low surrogate: both are kept apart.
    EXPECT_EQ(ReadTextField(R"({"v":"\ud800\u0041"})", "v"), "\xEF\xBF\xBD" "A");
    // A low surrogate alone.
    EXPECT_EQ(ReadTextField(R"({"v":"a\udc00b"})", "v"), "a\xEF\xBF\xBD" "b");
    // A \u without four hex digits does not read past the text.
    EXPECT_EQ(ReadTextField(R"({"v":"\u12"})", "v"), "u12");
    EXPECT_EQ(ReadTextField(R"({"v":"\uZZZZ"})", "v"), "uZZZZ");
}

TEST(ReadTextField, FindsTheFirstQuotedKeyAnywhere) {
    // The key must match whole: "username" is not "name".
    EXPECT_EQ(ReadTextField(R"({"username":"u","name":"n"})", "name"), "n");
    // The first occurrence wins even inside a value: here the string "name" of "user", so the
    // value read is the one after the next colon.
    EXPECT_EQ(ReadTextField(R"({"user":"name","other":"first","name":"second"})", "name"), "first");
    EXPECT_EQ(ReadTextField(R"({"a":["id"],"b":"wrong","id":"right"})", "id"), "wrong");
    // Blanks around the colon are allowed.
    EXPECT_EQ(ReadTextField(R"({ "key" : "v" })", "key"), "v");
    // Keys compare exactly, including letter case.
    EXPECT_EQ(ReadTextField(R"({"Type":"x"})", "type"), "");
}

TEST(ReadTextField, NonStringMissingAndUnterminatedValues) {
    // A value that is not a string gives the next string of the text, or nothing.
    EXPECT_EQ(ReadTextField(R"({"n":42,"s":"next"})", "n"), "s");
    EXPECT_EQ(ReadTextField(R"({"n":42})", "n"), "");
    EXPECT_EQ(ReadTextField(R"({"o":{"inner":"v"}})", "o"), "inner");
    EXPECT_EQ(ReadTextField(R"({"b":true})", "b"), "");
    // Missing key, key without colon, empty text.
    EXPECT_EQ(ReadTextField(R"({"a":"x"})", "b"), "");
    EXPECT_EQ(ReadTextField(R"({"a")", "a"), "");
    EXPECT_EQ(ReadTextField("", "a"), "");
    // Strings that never close.
    EXPECT_EQ(ReadTextField(R"({"a":"abc)", "a"), "");
    EXPECT_EQ(ReadTextField(R"({"a":"abc\"})", "a"), "");
    EXPECT_EQ(ReadTextField(R"({"a":"abc\)", "a"), "");
    EXPECT_EQ(ReadTextField(R"({"a":")", "a"), "");
}

TEST(ReadIntField, ReadsDecimalIntegers) {
    EXPECT_EQ(ReadIntField(R"({"key":"memory_mb","value":4096})", "value"), 4096);
    EXPECT_EQ(ReadIntField(R"({"value":-25,"x":1})", "value"), -25);
    EXPECT_EQ(ReadIntField(R"({"value":5000000000})", "value"), 5000000000LL);
    EXPECT_EQ(ReadIntField(R"({"v":9223372036854775807})", "v"), INT64_MAX);
    EXPECT_EQ(ReadIntField(R"({"v":-9223372036854775808})", "v"), INT64_MIN);
    // Leading blanks are skipped, the longest valid prefix is used.
    EXPECT_EQ(ReadIntField("{\"v\": \n\t 77 ,\"w\":1}", "v"), 77);
    EXPECT_EQ(ReadIntField(R"({"v":12abc})", "v"), 12);
    // A value at the very end without a closing brace.
    EXPECT_EQ(ReadIntField(R"("session_seconds":123)", "session_seconds"), 123);
    // First occurrence of the quoted key wins, as for text.
    EXPECT_EQ(ReadIntField(R"({"label":"n","other":7,"n":5})", "n"), 7);
}

TEST(ReadIntField, GivesZeroForUnreadableValues) {
    EXPECT_EQ(ReadIntField(R"({"value":"4096"})", "value"), 0);  // in quotes
    EXPECT_EQ(ReadIntField(R"({"v":9223372036854775808})", "v"), 0);
    EXPECT_EQ(ReadIntField(R"({"v":-9223372036854775809})", "v"), 0);
    EXPECT_EQ(ReadIntField(R"({"v":99999999999999999999999})", "v"), 0);
    EXPECT_EQ(ReadIntField(R"({"v":true})", "v"), 0);
    EXPECT_EQ(ReadIntField(R"({"v":})", "v"), 0);
    EXPECT_EQ(ReadIntField(R"({"v":)", "v"), 0);
    EXPECT_EQ(ReadIntField(R"({"v")", "v"), 0);
    EXPECT_EQ(ReadIntField(R"({"w":5})", "v"), 0);
    EXPECT_EQ(ReadIntField("", "v"), 0);
}

TEST(ReadArrayField, ReturnsTheWholeArrayWithNesting) {
    EXPECT_EQ(ReadArrayField(R"({"items":[1,[2,3],{"a":[4]}],"x":[9]})", "items"),
              R"([1,[2,3],{"a":[4]}])");
    EXPECT_EQ(ReadArrayField(R"({"items":[]})", "items"), "[]");
    // A blank after the colon is fine; the first "[" after the key is taken.
    EXPECT_EQ(ReadArrayField(R"({"items": ["a"]})", "items"), R"(["a"])");
    EXPECT_EQ(ReadArrayField(R"({"items":5,"other":[1]})", "items"), "[1]");
    // Brackets inside strings count as brackets.
    EXPECT_EQ(ReadArrayField(R"({"items":["]"],"z":[]})", "items"), R"(["])");
    // Non-ASCII bytes come back as they are.
    EXPECT_EQ(ReadArrayField("{\"items\":[\"\xE4\xB8\xAD\"]}", "items"), "[\"\xE4\xB8\xAD\"]");
}

TEST(ReadArrayField, EmptyWhenMissingOrUnterminated) {
    EXPECT_EQ(ReadArrayField(R"({"items":[1,[2]})", "items"), "");
    EXPECT_EQ(ReadArrayField(R"({"other":[1]})", "items"), "");
    EXPECT_EQ(ReadArrayField(R"({"items" :[1]})", "items"), "");  // blank before the colon
    EXPECT_EQ(ReadArrayField(R"({"items":5})", "items"), "");
    EXPECT_EQ(ReadArrayField("", "items"), "");
}

TEST(EscapeJson, BasicEscapesOnlyQuoteAndBackslash) {
    EXPECT_EQ(EscapeJsonBasic(R"(C:\Java\bin "x")"), R"(C:\\Java\\bin \"x\")");
    const std::string controls("a\nb\rc\td\x01" "e\0f", 11);
    EXPECT_EQ(EscapeJsonBasic(controls), controls);
    EXPECT_EQ(EscapeJsonBasic("\xE4\xB8\xAD\xFF\x7F"), "\xE4\xB8\xAD\xFF\x7F");
    EXPECT_EQ(EscapeJsonBasic(""), "");
}

TEST(EscapeJson, TextEscapesLineBreaksAndReplacesOtherControls) {
    EXPECT_EQ(EscapeJsonText(R"(a"b\c)"), R"(a\"b\\c)");
    EXPECT_EQ(EscapeJsonText("-Xss1M\n-Da=1\r\tz"), R"(-Xss1M\n-Da=1\r\tz)");
    EXPECT_EQ(EscapeJsonText(std::string("\x01\x1f\0\x08\x0c", 5)), "?????");
    // Bytes from 0x7F up, UTF-8 included, are copied as they are.
    EXPECT_EQ(EscapeJsonText("\x7F\xE4\xB8\xAD\xFF "), "\x7F\xE4\xB8\xAD\xFF ");
    EXPECT_EQ(EscapeJsonText(""), "");
}

TEST(EscapeJson, EscapedTextReadsBackUnchanged) {
    const std::string original = "C:\\a \"b\"\n\t\xE4\xB8\xAD\r/";
    EXPECT_EQ(ReadTextField("{\"v\":\"" + EscapeJsonText(original) + "\"}", "v"), original);
    const std::string basic = "C:\\Program Files\\Java \"17\" \xE4\xB8\xAD";
    EXPECT_EQ(ReadTextField("{\"v\":\"" + EscapeJsonBasic(basic) + "\"}", "v"), basic);
}

}  // namespace
}  // namespace lumivale
