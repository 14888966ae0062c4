// The hand-declared WebView2 interfaces: well-formed, and the host's slots pinned to the SDK headers' numbers.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "WebView2Interfaces.h"

namespace lumivale::webview2 {
namespace {

TEST(WebView2Interfaces, EveryEntryIsWellFormed) {
    std::set<std::string_view> iids;
    for (const ComInterface& entry : kInterfaces) {
        ASSERT_EQ(entry.iid.size(), 36u) << entry.name;
        for (std::size_t i = 0; i < entry.iid.size(); ++i) {
            const char c = entry.iid[i];
            const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
            EXPECT_TRUE(dash ? c == '-' : ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) << entry.name;
        }
        EXPECT_TRUE(iids.insert(entry.iid).second) << entry.name << " shares its IID";
        EXPECT_NO_THROW(if (entry.base != "IUnknown") Find(entry.base)) << entry.name;
        const std::set<std::string_view> names(entry.methods, entry.methods + entry.methodCount);
        EXPECT_EQ(names.size(), entry.methodCount) << entry.name << " names a method twice";
    }
    EXPECT_THROW(Slot("ICoreWebView2", "NoSuchMethod"), std::invalid_argument);
}

TEST(WebView2Interfaces, TheSlotsTheHostCallsAreTheHeadersSlots) {
    const struct {
        const char* interface;
        const char* method;
        std::size_t slot;
    } cases[] = {
        {"ICoreWebView2Environment", "CreateCoreWebView2Controller", 3},
        {"ICoreWebView2Controller", "put_Bounds", 6},
        {"ICoreWebView2Controller", "Close", 24},
        {"ICoreWebView2Controller", "get_CoreWebView2", 25},
        {"ICoreWebView2", "get_Settings", 3},
        {"ICoreWebView2", "Navigate", 5},
        {"ICoreWebView2", "NavigateToString", 6},
        {"ICoreWebView2", "add_NavigationStarting", 7},
        {"ICoreWebView2", "add_NavigationCompleted", 15},
        {"ICoreWebView2", "ExecuteScript", 29},
        {"ICoreWebView2", "Reload", 31},
        {"ICoreWebView2", "PostWebMessageAsJson", 32},
        {"ICoreWebView2", "add_WebMessageReceived", 34},
        {"ICoreWebView2", "add_NewWindowRequested", 44},
        {"ICoreWebView2_4", "add_DownloadStarting", 75},
        {"ICoreWebView2Settings", "put_IsStatusBarEnabled", 10},
        {"ICoreWebView2Settings", "put_AreDevToolsEnabled", 12},
        {"ICoreWebView2Settings", "put_AreDefaultContextMenusEnabled", 14},
        {"ICoreWebView2Settings", "put_IsZoomControlEnabled", 18},
        {"ICoreWebView2Settings3", "put_AreBrowserAcceleratorKeysEnabled", 24},
        {"ICoreWebView2WebMessageReceivedEventArgs", "TryGetWebMessageAsString", 5},
        {"ICoreWebView2NavigationStartingEventArgs", "get_Uri", 3},
        {"ICoreWebView2NavigationStartingEventArgs", "put_Cancel", 8},
        {"ICoreWebView2DownloadStartingEventArgs", "put_Cancel", 5},
        {"ICoreWebView2NavigationCompletedEventHandler", "Invoke", 3},
    };
    for (const auto& c : cases) EXPECT_EQ(Slot(c.interface, c.method), c.slot) << c.interface << "::" << c.method;
}

}  // namespace
}  // namespace lumivale::webview2
