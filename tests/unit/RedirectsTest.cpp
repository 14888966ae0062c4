// Where a redirect leads: the reference examples of RFC 3986 (section 5.4) and the launcher's own cases.
#include <gtest/gtest.h>

#include <tuple>
#include <utility>
#include <vector>

#include "Redirects.h"

namespace lumivale::test {
namespace {

TEST(Redirects, LocationsResolveAgainstTheAnsweringAddress) {
    const std::string base = "http://a/b/c/d;p?q";
    for (const auto& [location, expected] : std::vector<std::pair<std::string, std::string>>{
             {"g:h", "g:h"}, {"g", "http://a/b/c/g"}, {"./g", "http://a/b/c/g"}, {"g/", "http://a/b/c/g/"},
             {"/g", "http://a/g"}, {"//g", "http://g"}, {"?y", "http://a/b/c/d;p?y"}, {"g?y", "http://a/b/c/g?y"},
             {"#s", "http://a/b/c/d;p?q"}, {"g#s", "http://a/b/c/g"}, {";x", "http://a/b/c/;x"},
             {".", "http://a/b/c/"}, {"..", "http://a/b/"}, {"../g", "http://a/b/g"}, {"../..", "http://a/"},
             {"../../../g", "http://a/g"}, {"/./g", "http://a/g"}, {"/../g", "http://a/g"}, {"g.", "http://a/b/c/g."},
             {"..g", "http://a/b/c/..g"}, {"./../g", "http://a/b/g"}, {"g/./h", "http://a/b/c/g/h"},
             {"g/../h", "http://a/b/c/h"}, {"HTTPS://Mirror:8443/x", "https://Mirror:8443/x"}}) {
        EXPECT_EQ(ResolveLocation(base, location), expected) << location;
    }
    EXPECT_EQ(ResolveLocation("https://h:8443/libraries/a.jar", "x.jar"), "https://h:8443/libraries/x.jar");
    EXPECT_EQ(ResolveLocation("https://h", "x.jar"), "https://h/x.jar");
}

TEST(Redirects, NeverFromHttpsToPlainHttp) {
    for (const auto& [from, to, allowed] : std::vector<std::tuple<std::string, std::string, bool>>{
             {"http://a/x", "http://b/y", true}, {"http://a/x", "https://b/y", true},
             {"https://a/x", "https://b/y", true}, {"https://a/x", "http://b/y", false},
             {"HTTPS://a/x", "http://b/y", false}, {"http://a/x", "ftp://b/y", false},
             {"http://a/x", "file:///etc/passwd", false}}) {
        EXPECT_EQ(RedirectAllowed(from, to), allowed) << from << " -> " << to;
    }
}

}  // namespace
}  // namespace lumivale::test
