#include "Win32AuthPanel.h"

#include "Paths.h"
#include "Text.h"
#include "WebViewRules.h"

namespace lumivale::win32 {

namespace {

constexpr const wchar_t* kPanelClass = L"LumivaleAuthPanel";
constexpr int kPanelWidth = 460;
constexpr int kHeaderHeight = 48;
constexpr int kBackButton = 1001;

}  // namespace

bool RegisterAuthPanelClass() {
    WNDCLASSEXW panel{};
    panel.cbSize = sizeof panel;
    panel.lpfnWndProc = Win32AuthPanel::Procedure;
    panel.hInstance = GetModuleHandleW(nullptr);
    panel.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    panel.hbrBackground = CreateSolidBrush(RGB(26, 16, 48));
    panel.lpszClassName = kPanelClass;
    return RegisterClassExW(&panel) != 0;
}

std::shared_ptr<Win32AuthPanel> Win32AuthPanel::Open(HWND owner, std::shared_ptr<UiLoop> loop,
                                                     AuthPanelCallbacks callbacks,
                                                     std::function<void(const std::string&)> log) {
    auto panel = std::make_shared<Win32AuthPanel>(std::move(loop), std::move(callbacks), std::move(log));
    if (!panel->Build(owner)) return nullptr;
    return panel;
}

Win32AuthPanel::Win32AuthPanel(std::shared_ptr<UiLoop> loop, AuthPanelCallbacks callbacks,
                               std::function<void(const std::string&)> log)
    : loop_(std::move(loop)), callbacks_(std::move(callbacks)), log_(std::move(log)) {}

Win32AuthPanel::~Win32AuthPanel() { Close(); }

bool Win32AuthPanel::Build(HWND owner) {
    RECT main{};
    GetWindowRect(owner, &main);
    const int height = main.bottom - main.top;
    window_ = CreateWindowExW(0, kPanelClass, L"", WS_POPUP | WS_CLIPCHILDREN, main.right - kPanelWidth, main.top,
                              kPanelWidth, height, owner, nullptr, GetModuleHandleW(nullptr), this);
    if (!window_) return false;
    ShowWindow(window_, SW_SHOW);
    UpdateWindow(window_);

    WebView2Config config;
    config.parent = window_;
    config.hasFixedBounds = true;
    config.fixedBounds = RECT{0, kHeaderHeight, kPanelWidth, height - kHeaderHeight};
    config.dataFolder = UserCacheFolder() / "WebViewAuth";
    config.log = log_;
    config.defer = [loop = loop_](std::function<void()> task) { loop->Post(std::move(task)); };
    // Every address goes to the owner; the launcher's own scheme and files are never loaded here.
    config.shouldCancel = [](const std::string& uri) { return JudgeNavigation(uri, "") != NavigationVerdict::Proceed; };
    config.onNavigation = [this](const std::string& uri) {
        const auto onNavigation = callbacks_.onNavigation;  // the owner may drop the panel
        if (onNavigation) onNavigation(uri);
    };
    config.onReady = [this] {
        if (!pending_.empty()) view_->Navigate(pending_);
        pending_.clear();
    };
    view_ = std::make_unique<WebView2View>(std::move(config));
    std::string why;
    if (!view_->Start(why) && log_) log_("授权面板: " + why);
    return true;
}

LRESULT CALLBACK Win32AuthPanel::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<Win32AuthPanel*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
        case WM_CREATE:
            CreateWindowExW(0, L"BUTTON", Wide("← 返回").c_str(), WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 14, 8, 76, 32,
                            window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kBackButton)),
                            GetModuleHandleW(nullptr), nullptr);
            return 0;
        case WM_PAINT:
            if (self) {
                self->Paint();
                return 0;
            }
            break;
        case WM_COMMAND:
            if (self && LOWORD(wParam) == kBackButton) {
                // A copy: the owner closes (and may drop) the panel from inside it.
                const auto onBack = self->callbacks_.onBack;
                if (onBack) onBack();
                return 0;
            }
            break;
        case WM_DESTROY:
            // Gone with the main window: nothing is left to close.
            SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            if (self) {
                self->window_ = nullptr;
                self->view_.reset();
            }
            return 0;
        default:
            break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void Win32AuthPanel::Paint() {
    PAINTSTRUCT paint{};
    HDC dc = BeginPaint(window_, &paint);
    RECT client{};
    GetClientRect(window_, &client);
    RECT band{0, 0, client.right, kHeaderHeight};
    HBRUSH brush = CreateSolidBrush(RGB(40, 26, 70));
    FillRect(dc, &band, brush);
    DeleteObject(brush);
    HFONT font = CreateFontW(-15, 0, 0, 0, 600, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, L"Microsoft YaHei UI");
    HGDIOBJ old = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(253, 251, 255));
    RECT title{100, 0, client.right - 16, kHeaderHeight};
    const std::wstring text = Wide("LittleSkin 授权登录");
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &title, DT_SINGLELINE | DT_VCENTER | DT_LEFT);
    SelectObject(dc, old);
    DeleteObject(font);
    EndPaint(window_, &paint);
}

void Win32AuthPanel::Navigate(const std::string& url) {
    if (!view_) return;
    if (view_->Ready()) {
        view_->Navigate(url);
    } else {
        pending_ = url;
    }
}

void Win32AuthPanel::Close() {
    view_.reset();
    if (!window_) return;
    HWND window = window_;
    window_ = nullptr;
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    DestroyWindow(window);
}

}  // namespace lumivale::win32
