#pragma once
// Scripts and the stand-in page that the main web view carries.

namespace lumivale {

// Runs before any page script: the page talks to the launcher through window.chrome.webview.
// postMessage takes strings (anything else is dropped); the launcher's events arrive as "message"
// events whose data is the parsed event object.
inline constexpr const char* kBridgeScript = R"JS((function () {
  'use strict';
  if (window.chrome && window.chrome.webview) return;
  var channel = window.webkit && window.webkit.messageHandlers && window.webkit.messageHandlers.lumivale;
  var listeners = [];
  var webview = {
    postMessage: function (message) {
      if (typeof message === 'string' && channel) channel.postMessage(message);
    },
    addEventListener: function (type, listener) {
      if (type === 'message' && typeof listener === 'function' && listeners.indexOf(listener) < 0) {
        listeners.push(listener);
      }
    },
    removeEventListener: function (type, listener) {
      var at = listeners.indexOf(listener);
      if (type === 'message' && at >= 0) listeners.splice(at, 1);
    }
  };
  window.chrome = window.chrome || {};
  Object.defineProperty(window.chrome, 'webview', { value: webview, enumerable: true });
  Object.defineProperty(window, '__lumivaleDeliver', { value: function (data) {
    var event = new MessageEvent('message', { data: data });
    listeners.slice().forEach(function (listener) {
      try { listener.call(webview, event); } catch (error) { setTimeout(function () { throw error; }); }
    });
  } });
})();)JS";

// Shown when the build carried no UI page: says so, and still lets the window be moved,
// minimised and closed.
inline constexpr const char* kStandInPage = R"HTML(<!DOCTYPE html>
<html lang="zh-CN"><head><meta charset="utf-8"><title>Lumivale启动器</title>
<style>
html, body { margin: 0; height: 100%; overflow: hidden; user-select: none;
  font-family: "Microsoft YaHei UI", "WenQuanYi Micro Hei", "Noto Sans CJK SC", sans-serif; }
body { background: linear-gradient(135deg, #f6c1dc 0%, #c9c3f4 50%, #a9cdfb 100%);
  display: flex; flex-direction: column; }
.bar { height: 40px; display: flex; align-items: center; padding: 0 12px; color: #3b2a5a;
  background: rgba(255, 255, 255, 0.35); font-weight: 600; }
.bar .title { flex: 1; }
.bar button { width: 36px; height: 28px; margin-left: 6px; border: 0; border-radius: 8px;
  background: rgba(255, 255, 255, 0.6); color: #3b2a5a; font-size: 16px; cursor: pointer; }
.logo { width: 112px; height: 112px; border-radius: 28px; margin: 0 auto 18px;
  background: var(--logo, linear-gradient(135deg, #ff8ac2, #7aa8ff)) center / cover; }
main { flex: 1; display: flex; align-items: center; justify-content: center; }
.card { width: 460px; padding: 36px 40px; border-radius: 20px; text-align: center; color: #2d2145;
  background: rgba(255, 255, 255, 0.55); box-shadow: 0 12px 40px rgba(60, 40, 110, 0.25); }
.card h1 { margin: 0 0 10px; font-size: 26px; }
.card p { margin: 0; font-size: 15px; line-height: 1.7; }
</style></head>
<body>
<div class="bar" id="bar"><span class="title">Lumivale启动器</span>
<button id="min" title="最小化">–</button><button id="close" title="关闭">×</button></div>
<main><div class="card"><div class="logo"></div><h1>Lumivale启动器</h1>
<p>这个版本没有附带界面页面。<br>请使用完整的发行版本。</p></div></main>
<script>
(function () {
  var post = function (o) { window.chrome.webview.postMessage(JSON.stringify(o)); };
  document.getElementById('bar').addEventListener('mousedown', function (e) {
    if (e.button === 0 && (e.target.id === 'bar' || e.target.className === 'title')) post({ type: 'drag' });
  });
  document.getElementById('min').onclick = function () { post({ type: 'window', action: 'min' }); };
  document.getElementById('close').onclick = function () { post({ type: 'window', action: 'close' }); };
})();
</script>
</body></html>
)HTML";

}  // namespace lumivale
