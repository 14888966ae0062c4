#pragma once
// --self-test: what a person runs on a real machine before a release. It opens the window, loads
// the page, sends one message through the bridge and gets it back, then makes the page try a
// file: navigation and a download, both of which must be refused. The result is a JSON file.
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "MainWindow.h"
#include "UiLoop.h"
#include "WebViewHost.h"

namespace lumivale {

struct SelfTestResult {
    bool window = false;                 // the main window was shown
    bool page = false;                   // the page finished loading
    bool bridge = false;                 // an event reached the page and its answer came back
    bool fileNavigationRefused = false;  // the page was still the same after a file: navigation
    bool fileNavigationGuarded = false;  // ... and the launcher's own guard turned it away
    bool downloadRefused = false;        // the launcher's guard cancelled a download
    std::string failure;                 // the first check that failed, for a person

    bool Passed() const;
    std::string ToJson() const;
};

struct SelfTestTimings {
    // How long the page may take to answer or to show a navigation's effect.
    std::chrono::milliseconds settle{2000};
    // The whole run; what has not happened by then failed.
    std::chrono::milliseconds limit{60000};
};

// What the page runs, known to hosts that stand in for a page in tests: the listener that
// answers "selftest:ping" events with a "selftest:pong" message carrying the ping's token and
// the document's own, the file: navigation, and the download.
inline constexpr const char* kSelfTestListenerScript = R"JS((function () {
  if (window.__lumivaleSelfTest) return;
  window.__lumivaleSelfTest = String(Math.random()).slice(2) || '1';
  window.chrome.webview.addEventListener('message', function (event) {
    var data = event.data;
    if (!data || data.type !== 'selftest:ping') return;
    window.chrome.webview.postMessage(JSON.stringify(
      { type: 'selftest:pong', token: data.token, document: window.__lumivaleSelfTest }));
  });
})();)JS";
inline constexpr const char* kSelfTestFileScript = "location.href='file:///lumivale-self-test.txt';";
inline constexpr const char* kSelfTestDownloadScript = R"JS((function () {
  var link = document.createElement('a');
  link.href = 'data:application/octet-stream;base64,THVtaXZhbGU=';
  link.download = 'lumivale-self-test.bin';
  document.body.appendChild(link);
  link.click();
  link.remove();
})();)JS";

// Initialises `view` in the shown `window` and runs the checks on the UI thread of `loop`;
// `done` runs there once, with the result. `windowShown` is what Show returned.
void StartSelfTest(std::shared_ptr<UiLoop> loop, std::shared_ptr<WebViewHost> view, bool windowShown,
                   SelfTestTimings timings, std::function<void(const SelfTestResult&)> done);

}  // namespace lumivale
