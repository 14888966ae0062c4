// The command scanners on hostile text, and what the escapers make of awkward bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "JsonFields.h"
#include "ScriptText.h"

namespace lumivale {
namespace {

const std::string kBad = "\xEF\xBF\xBD";  // U+FFFD

TEST(ReadTextField, DecodesEscapesAndNeverReadsPastTheText) {
    const struct {
        std::string json, key, expected;
    } cases[] = {
        {R"({"type":"yggdrasil:login","password":"a\"b\\c"})", "password", "a\"b\\c"},
        {R"({"v":"\/\b\f\n\r\t"})", "v", "/\b\f\n\r\t"},
        {"{\"v\":\"\\u00e9\\u4E2D \xE8\xA7\x92\"}", "v", "\xC3\xA9\xE4\xB8\xAD \xE8\xA7\x92"},  // raw UTF-8 passes
        {R"({"v":"\ud83d\ude00!"})", "v", "\xF0\x9F\x98\x80!"},
        {R"({"v":"\ud800"})", "v", kBad},
        {R"({"v":"\ud800\u0041"})", "v", kBad + "A"},
        {R"({"v":"a\udc00b"})", "v", "a" + kBad + "b"},
        {R"({"v":"\u12"})", "v", "u12"},
        {R"({"v":"\uZZZZ"})", "v", "uZZZZ"},
        // The key matches whole and exactly, blanks around the colon allowed.
        {R"({"username":"u","name":"n"})", "name", "n"},
        {R"({ "key" : "v" })", "key", "v"},
        {R"({"Type":"x"})", "type", ""},
        // A value that is no string gives the next string of the text, or nothing.
        {R"({"n":42,"s":"next"})", "n", "s"},
        // Missing keys, a missing colon, and strings that never close.
        {R"({"a":"x"})", "b", ""},
        {R"({"a")", "a", ""},
        {"", "a", ""},
        {R"({"a":"abc)", "a", ""},
        {R"({"a":"abc\)", "a", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(ReadTextField(c.json, c.key), c.expected) << c.json;
}

TEST(ReadIntField, ReadsTheLongestDecimalPrefixAndZeroForAnythingElse) {
    const struct {
        const char* json;
        std::int64_t expected;
    } cases[] = {
        {R"({"key":"memory_mb","v":4096})", 4096},
        {R"({"v":9223372036854775807})", INT64_MAX},
        {R"({"v":-9223372036854775808,"x":1})", INT64_MIN},
        {"{\"v\": \n\t 12abc ,\"w\":1}", 12},
        {R"("v":123)", 123},
        {R"({"v":"4096"})", 0},
        {R"({"v":9223372036854775808})", 0},
        {R"({"v":-9223372036854775809})", 0},
        {R"({"v":})", 0},
        {R"({"v")", 0},
        {"", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(ReadIntField(c.json, "v"), c.expected) << c.json;
}

// Every event goes through one of the two JSON escapers, and a boot error through the script one.
TEST(Escaping, AwkwardBytesAndWhatReadsBack) {
    const std::string controls("\x01\x1f\0\x08\x0c", 5);
    const struct {
        std::string in, basic, text, script;
    } cases[] = {
        {R"(C:\Java "x")", R"(C:\\Java \"x\")", R"(C:\\Java \"x\")", R"(C:\\Java \"x\")"},
        {"a\nb\r\tz", "a\nb\r\tz", R"(a\nb\r\tz)", "a\\nb\\r\tz"},
        {controls, controls, "?????", controls},
        {"</script><b>", "</script><b>", "</script><b>", R"(\u003c/script>\u003cb>)"},
        {"中 '&> /", "中 '&> /", "中 '&> /", "中 '&> /"},
        {"\xFF\x7F \xE4\xB8", "\xFF\x7F \xE4\xB8", "\xFF\x7F \xE4\xB8", "\xFF\x7F \xE4\xB8"},  // not UTF-8, DEL
        {"", "", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EscapeJsonBasic(c.in), c.basic) << c.in;
        EXPECT_EQ(EscapeJsonText(c.in), c.text) << c.in;
        EXPECT_EQ(EscapeForScriptString(c.in), c.script) << c.in;
        if (c.in != controls) {
            EXPECT_EQ(ReadTextField("{\"v\":\"" + EscapeJsonText(c.in) + "\"}", "v"), c.in);
        }
    }
}

}  // namespace
}  // namespace lumivale
