#include "Win32MainWindow.h"

#include <shellapi.h>
#include <shobjidl.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstdlib>

#include "Files.h"
#include "Paths.h"
#include "Resources.h"
#include "Text.h"
#include "WebViewRules.h"
#include "Win32AuthPanel.h"

namespace lumivale::win32 {

namespace {

constexpr const wchar_t* kMainClass = L"LumivaleMainWindow";
constexpr int kWidth = 1280;
constexpr int kHeight = 800;
constexpr int kCornerRadius = 8;

std::string Base64(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return {};
    DWORD size = 0;
    const DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
    const auto length = static_cast<DWORD>(bytes.size());
    if (!CryptBinaryToStringA(bytes.data(), length, flags, nullptr, &size)) return {};
    std::string text(size, '\0');
    if (!CryptBinaryToStringA(bytes.data(), length, flags, text.data(), &size)) return {};
    text.resize(size);
    return text;
}

// The pictures' Base64 text, read once per run.
const std::string& PictureBase64(int id) {
    static const std::string background = Base64(GetResource(IDR_BG_PNG));
    static const std::string logo = Base64(GetResource(IDR_LOGO_PNG));
    return id == IDR_BG_PNG ? background : logo;
}

}  // namespace

bool RegisterWindowClasses() {
    WNDCLASSEXW main{};
    main.cbSize = sizeof main;
    main.lpfnWndProc = Win32MainWindow::Procedure;
    main.hInstance = GetModuleHandleW(nullptr);
    main.hIcon = LoadIconW(main.hInstance, MAKEINTRESOURCEW(100));
    main.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    main.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    main.lpszClassName = kMainClass;
    return RegisterClassExW(&main) != 0 && RegisterAuthPanelClass();
}

Win32MainWindow::Win32MainWindow(std::shared_ptr<UiLoop> loop, std::function<void(const std::string&)> log)
    : loop_(std::move(loop)), log_(std::move(log)) {}

Win32MainWindow::~Win32MainWindow() {
    if (auto panel = panel_.lock()) panel->Close();
    view_.reset();
    if (window_) {
        SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        DestroyWindow(window_);
    }
}

void Win32MainWindow::Log(const std::string& line) const {
    if (log_) log_(line);
}

void Win32MainWindow::Defer(std::function<void()> task) { loop_->Post(std::move(task)); }

bool Win32MainWindow::Show(std::function<void()> onDestroyed) {
    onDestroyed_ = std::move(onDestroyed);
    // Centred in the primary monitor's work area.
    RECT area{0, 0, kWidth, kHeight};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    const int x = area.left + (area.right - area.left - kWidth) / 2;
    const int y = area.top + (area.bottom - area.top - kHeight) / 2;
    window_ = CreateWindowExW(0, kMainClass, Wide("Lumivale启动器").c_str(),
                              WS_POPUP | WS_MINIMIZEBOX | WS_SYSMENU | WS_CLIPCHILDREN, x, y, kWidth, kHeight,
                              nullptr, nullptr, GetModuleHandleW(nullptr), this);
    if (!window_) {
        Log("CreateWindowExW 失败：" + std::to_string(GetLastError()));
        return false;
    }
    SetWindowRgn(window_, CreateRoundRectRgn(0, 0, kWidth + 1, kHeight + 1, 2 * kCornerRadius, 2 * kCornerRadius),
                 TRUE);
    ShowWindow(window_, SW_SHOW);
    UpdateWindow(window_);
    return true;
}

LRESULT CALLBACK Win32MainWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<Win32MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self) return DefWindowProcW(window, message, wParam, lParam);
    switch (message) {
        case WM_SIZE:
            if (self->view_) self->view_->Resize();
            return 0;
        case WM_CLOSE:
            DestroyWindow(window);
            return 0;
        case WM_DESTROY: {
            SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            self->window_ = nullptr;
            if (auto panel = self->panel_.lock()) panel->Close();
            self->view_.reset();
            if (self->onDestroyed_) {
                auto done = std::move(self->onDestroyed_);
                self->onDestroyed_ = nullptr;
                done();
            }
            return 0;
        }
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

void Win32MainWindow::Minimise() {
    if (window_) ShowWindow(window_, SW_MINIMIZE);
}

void Win32MainWindow::Destroy() {
    if (window_) DestroyWindow(window_);
}

void Win32MainWindow::StartMove() {
    if (!window_) return;
    // As if the press had been on a title bar: the system moves the window from here.
    ReleaseCapture();
    SendMessageW(window_, WM_NCLBUTTONDOWN, HTCAPTION, 0);
}

void Win32MainWindow::Raise() {
    if (!window_) return;
    Log("SingleInstance: 另一次启动请求显示窗口");
    ShowWindow(window_, IsIconic(window_) ? SW_RESTORE : SW_SHOW);
    SetForegroundWindow(window_);
}

void Win32MainWindow::OpenUrl(const std::string& url) {
    if (!IsBrowserAddress(url)) {
        Log("OpenUrl: 只打开网页地址，拒绝 " + url);
        return;
    }
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(window_, L"open", Wide(url).c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    if (result <= 32) Log("OpenUrl: 无法打开 " + url);
}

void Win32MainWindow::Pick(bool folders, const std::string& title, std::function<void(const std::string&)> done) {
    std::string chosen;
    IFileOpenDialog* dialog = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                                   reinterpret_cast<void**>(&dialog)))) {
        FILEOPENDIALOGOPTIONS options = 0;
        dialog->GetOptions(&options);
        dialog->SetOptions(options | FOS_FORCEFILESYSTEM | (folders ? FOS_PICKFOLDERS : FOS_FILEMUSTEXIST));
        dialog->SetTitle(Wide(title).c_str());
        IShellItem* item = nullptr;
        if (SUCCEEDED(dialog->Show(window_)) && SUCCEEDED(dialog->GetResult(&item))) {
            LPWSTR path = nullptr;
            if (SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &path))) {
                chosen = Narrow(path);
                CoTaskMemFree(path);
            }
            item->Release();
        }
        dialog->Release();
    }
    // As the other hosts: the answer comes after this call, on the UI thread.
    Defer([done = std::move(done), chosen] { done(chosen); });
}

void Win32MainWindow::PickFolder(const std::string& title, std::function<void(const std::string&)> done) {
    Pick(true, title, std::move(done));
}

void Win32MainWindow::PickFile(const std::string& title, std::function<void(const std::string&)> done) {
    Pick(false, title, std::move(done));
}

void Win32MainWindow::ShowMessage(const std::string& text, const std::string& caption, MessageKind kind) {
    // Also on the console: a box may go unseen.
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    std::fflush(stderr);
    const UINT icon = kind == MessageKind::Error ? MB_ICONERROR : MB_ICONINFORMATION;
    MessageBoxW(window_, Wide(text).c_str(), Wide(caption).c_str(), MB_OK | icon | MB_SETFOREGROUND);
}

std::shared_ptr<AuthPanel> Win32MainWindow::OpenAuthPanel(AuthPanelCallbacks callbacks) {
    if (!window_) return nullptr;
    if (auto open = panel_.lock(); open && open->IsOpen()) return open;
    auto panel = Win32AuthPanel::Open(window_, loop_, std::move(callbacks), log_);
    panel_ = panel;
    return panel;
}

bool Win32MainWindow::Init(WebViewCallbacks callbacks) {
    if (!window_) return false;
    callbacks_ = std::move(callbacks);
    const auto page = GetResource(IDR_APP_HTML);
    if (page.empty()) {
        Log("Init: 未找到内嵌 HTML 资源，无法启动界面");
        callbacks_ = {};
        return false;
    }
    pageHtml_.assign(reinterpret_cast<const char*>(page.data()), page.size());

    WebView2Config config;
    config.parent = window_;
    config.dataFolder = UserCacheFolder() / "WebView";
    config.log = log_;
    config.defer = [this](std::function<void()> task) { Defer(std::move(task)); };
    config.shouldCancel = [this](const std::string& uri) { return ShouldCancel(uri); };
    config.onNavigation = [this](const std::string& uri) {
        if (JudgeNavigation(uri, fallbackUri_) == NavigationVerdict::ToLauncher && callbacks_.onSchemeNavigation) {
            callbacks_.onSchemeNavigation(uri);
        }
    };
    config.onMessage = [this](const std::string& text) {
        if (callbacks_.onMessage) callbacks_.onMessage(text);
    };
    config.onReady = [this] {
        LoadPage();
        if (callbacks_.onControllerReady) callbacks_.onControllerReady();
    };
    config.onLoadFinished = [this] { OnLoadFinished(); };
    config.onDownloadRefused = [this] {
        if (callbacks_.onRefused) callbacks_.onRefused(Refusal::Download, "");
    };
    view_ = std::make_unique<WebView2View>(std::move(config));
    std::string why;
    if (!view_->Start(why)) {
        Log("Init: " + why);
        view_.reset();
        return false;
    }
    return true;
}

bool Win32MainWindow::ShouldCancel(const std::string& uri) {
    switch (JudgeNavigation(uri, fallbackUri_)) {
        case NavigationVerdict::Proceed:
            return false;
        case NavigationVerdict::ToLauncher:
            return true;  // handed to the launcher by onNavigation
        case NavigationVerdict::BlockedFile:
            Log("[DL] Blocked file:// nav");
            if (callbacks_.onRefused) callbacks_.onRefused(Refusal::FileNavigation, uri);
            return true;
    }
    return true;
}

void Win32MainWindow::LoadPage() {
    if (!view_) return;
    // A boot error reaches the page that loads now, and only that one.
    const std::string html = bootError_.empty() ? pageHtml_ : PageWithFirstScript(pageHtml_, BootErrorScript(bootError_));
    bootError_.clear();
    if (!view_->NavigateToString(html)) LoadFallbackFile(html);
}

void Win32MainWindow::LoadFallbackFile(const std::string& html) {
    Log("NavigateToString 失败，回退到 file:// 临时文件");
    wchar_t name[MAX_PATH] = {};
    if (!GetTempFileNameW(TempFolder().c_str(), L"lvl", 0, name)) return;
    std::filesystem::path file(name);
    file.replace_extension(L".html");
    if (!WriteFileAtomically(file, html)) return;
    fallbackUri_ = FileAddressOfWindowsPath(PathUtf8(file));
    view_->Navigate(fallbackUri_);
}

void Win32MainWindow::OnLoadFinished() {
    Log("WebView: 页面加载完成");
    if (callbacks_.onPageReady) callbacks_.onPageReady();
    InjectPictures();
}

void Win32MainWindow::InjectPictures() {
    const struct {
        int id;
        const char* property;
        const char* missing;
    } pictures[] = {
        {IDR_BG_PNG, "--bg", "LoadBackgroundPng: FindResourceW(IDR_BG_PNG, RT_RCDATA) 失败"},
        {IDR_LOGO_PNG, "--logo", "LoadLogoPng: FindResourceW(IDR_LOGO_PNG, RT_RCDATA) 失败"},
    };
    for (const auto& picture : pictures) {
        const std::string script = PictureScript(picture.property, PictureBase64(picture.id));
        if (script.empty()) {
            Log(picture.missing);
            continue;
        }
        view_->RunScript(script);
    }
}

void Win32MainWindow::PostJson(const std::string& json) {
    if (view_ && !view_->PostJson(json)) Log("WebView: 丢弃了一条不是 JSON 的事件: " + json);
}

void Win32MainWindow::Navigate(const std::string& target) {
    if (!view_) return;
    if (IsAddressTarget(target)) {
        view_->Navigate(target);
        return;
    }
    view_->Navigate(FileAddressOfWindowsPath(target));
}

void Win32MainWindow::ReloadWithError(const std::string& message) {
    if (!view_) return;
    bootError_ = message;
    // Always the launcher's page again, also when the view was sent elsewhere.
    LoadPage();
}

void Win32MainWindow::RunScript(const std::string& script) {
    if (view_) view_->RunScript(script);
}

void Win32MainWindow::Close() { view_.reset(); }

}  // namespace lumivale::win32
