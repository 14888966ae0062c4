// The boot-error text as the window puts it into the page's script.
#include <gtest/gtest.h>

#include "ScriptText.h"

namespace lumivale {
namespace {

TEST(ScriptText, QuotesBackslashesLineBreaksAndTagsCannotLeaveTheString) {
    EXPECT_EQ(EscapeForScriptString(R"(a"b\c)"), R"(a\"b\\c)");
    EXPECT_EQ(EscapeForScriptString("one\ntwo\r\n"), R"(one\ntwo\r\n)");
    EXPECT_EQ(EscapeForScriptString("</script><script>alert(1)</script>"),
              R"(\u003c/script>\u003cscript>alert(1)\u003c/script>)");
    // Everything else, UTF-8 included, is copied as it is.
    EXPECT_EQ(EscapeForScriptString("token 换取失败，请重试 '&>"), "token 换取失败，请重试 '&>");
    EXPECT_EQ(EscapeForScriptString(""), "");
}

}  // namespace
}  // namespace lumivale
