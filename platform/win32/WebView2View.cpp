#include "WebView2View.h"

#include <eventtoken.h>
#include <ole2.h>

#include "Files.h"
#include "Paths.h"
#include "Text.h"
#include "WebView2Loader.h"

namespace lumivale::win32 {

namespace {

using webview2::Slot;

// A text the runtime allocated, freed with CoTaskMemFree.
std::string TakeText(LPWSTR text) {
    if (!text) return {};
    std::string result = Narrow(text);
    CoTaskMemFree(text);
    return result;
}

}  // namespace

WebView2View::WebView2View(WebView2Config config) : config_(std::move(config)) {}

WebView2View::~WebView2View() { Close(); }

void WebView2View::Log(const std::string& line) const {
    if (config_.log) config_.log(line);
}

bool WebView2View::Start(std::string& why) {
    // The control's storage (the page's and the sign-in site's) is the user's alone.
    if (!MakeOwnerOnlyFolder(config_.dataFolder)) Log("无法创建网页数据目录：" + PathUtf8(config_.dataFolder));
    std::weak_ptr<int> alive = alive_;
    auto* handler = Handler<HRESULT, void*>::Make(
        "ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler",
        [this, alive](HRESULT result, void* environment) -> HRESULT {
            if (alive.expired()) return S_OK;
            if (FAILED(result) || !environment) {
                Log("WebView2: 环境创建失败");
                return E_FAIL;
            }
            auto* onController = Handler<HRESULT, void*>::Make(
                "ICoreWebView2CreateCoreWebView2ControllerCompletedHandler",
                [this, alive](HRESULT created, void* controller) -> HRESULT {
                    return alive.expired() ? S_OK : OnController(created, controller);
                });
            const HRESULT started = LUMIVALE_COM(environment, ICoreWebView2Environment, CreateCoreWebView2Controller,
                                                 config_.parent, static_cast<IUnknown*>(onController));
            onController->Release();
            return started;
        });
    const HRESULT result = StartWebView2Environment(config_.dataFolder.wstring(), handler, why);
    handler->Release();
    return SUCCEEDED(result);
}

HRESULT WebView2View::OnController(HRESULT result, void* controller) {
    if (FAILED(result) || !controller) {
        Log("WebView2: 控件创建失败");
        return E_FAIL;
    }
    static_cast<IUnknown*>(controller)->AddRef();  // the call's reference stays the runtime's
    controller_ = ComRef(controller);
    LUMIVALE_COM(controller_.Get(), ICoreWebView2Controller, get_CoreWebView2, webview_.Put());
    if (!webview_) return E_FAIL;
    Log("[DL] CoreWebView2 已获取，准备注册下载/拖放拦截器");
    RevokeDrops();
    Configure();
    Resize();
    if (config_.onReady) config_.onReady();
    return S_OK;
}

void WebView2View::Configure() {
    ComRef settings;
    if (SUCCEEDED(LUMIVALE_COM(webview_.Get(), ICoreWebView2, get_Settings, settings.Put())) && settings) {
        LUMIVALE_COM(settings.Get(), ICoreWebView2Settings, put_AreDefaultContextMenusEnabled, BOOL{FALSE});
        LUMIVALE_COM(settings.Get(), ICoreWebView2Settings, put_AreDevToolsEnabled, BOOL{FALSE});
        LUMIVALE_COM(settings.Get(), ICoreWebView2Settings, put_IsStatusBarEnabled, BOOL{FALSE});
        LUMIVALE_COM(settings.Get(), ICoreWebView2Settings, put_IsZoomControlEnabled, BOOL{FALSE});
        if (ComRef third = settings.As("ICoreWebView2Settings3")) {
            LUMIVALE_COM(third.Get(), ICoreWebView2Settings3, put_AreBrowserAcceleratorKeysEnabled, BOOL{FALSE});
        }
    }

    std::weak_ptr<int> alive = alive_;
    EventRegistrationToken token{};
    auto* onMessage = Handler<void*, void*>::Make(
        "ICoreWebView2WebMessageReceivedEventHandler", [this, alive](void*, void* args) -> HRESULT {
            if (alive.expired()) return S_OK;
            LPWSTR text = nullptr;
            // A message that is not a string is not for the launcher.
            if (FAILED(LUMIVALE_COM(args, ICoreWebView2WebMessageReceivedEventArgs, TryGetWebMessageAsString, &text))) {
                return S_OK;
            }
            const std::string message = TakeText(text);
            if (config_.onMessage) config_.onMessage(message);
            return S_OK;
        });
    LUMIVALE_COM(webview_.Get(), ICoreWebView2, add_WebMessageReceived, static_cast<IUnknown*>(onMessage), &token);
    onMessage->Release();

    auto* onStarting = Handler<void*, void*>::Make(
        "ICoreWebView2NavigationStartingEventHandler", [this, alive](void*, void* args) -> HRESULT {
            if (alive.expired()) return S_OK;
            LPWSTR uri = nullptr;
            LUMIVALE_COM(args, ICoreWebView2NavigationStartingEventArgs, get_Uri, &uri);
            const std::string address = TakeText(uri);
            if (config_.shouldCancel && config_.shouldCancel(address)) {
                LUMIVALE_COM(args, ICoreWebView2NavigationStartingEventArgs, put_Cancel, BOOL{TRUE});
            }
            if (config_.onNavigation && config_.defer) {
                config_.defer([this, alive, address] {
                    if (alive.expired()) return;
                    const auto onNavigation = config_.onNavigation;  // the owner may close the view
                    if (onNavigation) onNavigation(address);
                });
            }
            return S_OK;
        });
    LUMIVALE_COM(webview_.Get(), ICoreWebView2, add_NavigationStarting, static_cast<IUnknown*>(onStarting), &token);
    onStarting->Release();

    if (ComRef fourth = webview_.As("ICoreWebView2_4")) {
        Log("[DL] QI OK, registering DownloadStarting...");
        auto* onDownload = Handler<void*, void*>::Make(
            "ICoreWebView2DownloadStartingEventHandler", [this, alive](void*, void* args) -> HRESULT {
                if (alive.expired()) return S_OK;
                Log("[DL] ★ DownloadStarting FIRED");
                LUMIVALE_COM(args, ICoreWebView2DownloadStartingEventArgs, put_Cancel, BOOL{TRUE});
                if (config_.onDownloadRefused) config_.onDownloadRefused();
                return S_OK;
            });
        LUMIVALE_COM(fourth.Get(), ICoreWebView2_4, add_DownloadStarting, static_cast<IUnknown*>(onDownload), &token);
        onDownload->Release();
        Log("[DL] DownloadStarting registered");
    } else {
        Log("[DL] QI ICoreWebView2_4 FAILED");
    }

    auto* onCompleted = Handler<void*, void*>::Make(
        "ICoreWebView2NavigationCompletedEventHandler", [this, alive](void*, void*) -> HRESULT {
            if (alive.expired()) return S_OK;
            if (config_.onLoadFinished) config_.onLoadFinished();
            RevokeDrops();  // the control makes its windows anew on a navigation
            return S_OK;
        });
    LUMIVALE_COM(webview_.Get(), ICoreWebView2, add_NavigationCompleted, static_cast<IUnknown*>(onCompleted), &token);
    onCompleted->Release();
}

void WebView2View::RevokeDrops() {
    EnumChildWindows(
        config_.parent,
        [](HWND child, LPARAM) -> BOOL {
            RevokeDragDrop(child);
            return TRUE;
        },
        0);
    Log("已禁用 WebView2 拖放：禁止把文件拖进启动器窗口");
}

bool WebView2View::NavigateToString(const std::string& html) {
    return webview_ && SUCCEEDED(LUMIVALE_COM(webview_.Get(), ICoreWebView2, NavigateToString, Wide(html).c_str()));
}

bool WebView2View::Navigate(const std::string& uri) {
    return webview_ && SUCCEEDED(LUMIVALE_COM(webview_.Get(), ICoreWebView2, Navigate, Wide(uri).c_str()));
}

void WebView2View::RunScript(const std::string& script) {
    if (webview_) LUMIVALE_COM(webview_.Get(), ICoreWebView2, ExecuteScript, Wide(script).c_str(), static_cast<IUnknown*>(nullptr));
}

bool WebView2View::PostJson(const std::string& json) {
    return webview_ && SUCCEEDED(LUMIVALE_COM(webview_.Get(), ICoreWebView2, PostWebMessageAsJson, Wide(json).c_str()));
}

void WebView2View::Resize() {
    if (!controller_) return;
    RECT bounds = config_.fixedBounds;
    if (!config_.hasFixedBounds) GetClientRect(config_.parent, &bounds);
    LUMIVALE_COM(controller_.Get(), ICoreWebView2Controller, put_Bounds, bounds);
}

void WebView2View::Close() {
    alive_ = std::make_shared<int>(0);  // handlers still registered find the old one gone
    if (controller_) LUMIVALE_COM(controller_.Get(), ICoreWebView2Controller, Close);
    webview_.Reset();
    controller_.Reset();
}

}  // namespace lumivale::win32
