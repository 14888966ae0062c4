// The command scanners on hostile text, and what the escapers make of awkward bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "JsonDocument.h"
#include "JsonFields.h"
#include "ModpackImport.h"
#include "TempHome.h"
#include "VersionManifest.h"
#include "ZipWriter.h"
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

// Events go through the JSON escaper, a boot error through the script one (validity and reading back: the fuzz targets).
TEST(Escaping, AwkwardBytesGetTheirExactEscapes) {
    const std::string controls("\x01\x1f\0\x08\x0c", 5);
    const std::string& fffd = kBad;
    const struct {
        std::string in, json, script;
    } cases[] = {
        {R"(C:\Java "x")", R"(C:\\Java \"x\")", R"(C:\\Java \"x\")"},
        {"a\nb\r\tz", R"(a\nb\r\tz)", "a\\nb\\r\tz"},
        {controls, R"(\u0001\u001f\u0000\b\f)", controls},
        {"</script><b>", "</script><b>", R"(\u003c/script>\u003cb>)"},
        {"中 '&> / 😀", "中 '&> / 😀", "中 '&> / 😀"},
        // Not UTF-8: a stray byte, a cut sequence, an overlong slash, a surrogate; DEL stays.
        {"\xFF\x7F \xE4\xB8", fffd + "\x7F " + fffd + fffd, "\xFF\x7F \xE4\xB8"},
        {"\xC0\xAF\xED\xA0\x80", fffd + fffd + fffd + fffd + fffd, "\xC0\xAF\xED\xA0\x80"},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EscapeJsonBasic(c.in), c.json) << c.in;
        EXPECT_EQ(EscapeJsonText(c.in), c.json) << c.in;
        EXPECT_EQ(EscapeForScriptString(c.in), c.script) << c.in;
    }
}

// Nesting deeper than any real document is refused where it is read, before it can overflow the stack.
TEST(JsonDocuments, NestingDeeperThanAnyRealDocumentIsRefused) {
    const auto nested = [](int depth) { return std::string(depth, '[') + std::string(depth, ']'); };
    EXPECT_FALSE(ParseJsonDocument(nested(kMaxJsonDepth)).is_discarded());
    EXPECT_TRUE(ParseJsonDocument(nested(kMaxJsonDepth + 1)).is_discarded());
    EXPECT_TRUE(ParseJsonDocument("{\"a\":1,}").is_discarded());
    // Brackets inside strings, escaped quotes among them, are text and do not nest.
    const std::string inString = "[\"" + std::string(100, '[') + "\\\"" + std::string(100, '{') + "\"]";
    EXPECT_EQ(ParseJsonDocument(inString)[0].get<std::string>().size(), 201u);

    test::TempHome home;
    const std::string deep = R"({"id":"x","mainClass":"M","libraries":)" + nested(100000) + "}";
    test::WriteFile(home.root() / "deep.json", deep);
    EXPECT_TRUE(loadJsonFile((home.root() / "deep.json").string()).is_null());
    test::WriteZip(home.root() / "deep.zip", {{"manifest.json", R"({"name":"P","minecraft":{"version":"1.20.1"},"files":)" +
                                                                     nested(100000) + "}"}});
    ModpackPlan plan;
    std::string error;
    EXPECT_FALSE(ReadModpackPlan((home.root() / "deep.zip").string(), plan, error));
    EXPECT_EQ(error, "manifest.json 不是合法 JSON");
}

}  // namespace
}  // namespace lumivale
