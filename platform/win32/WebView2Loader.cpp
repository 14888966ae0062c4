#include "WebView2Loader.h"

#include <filesystem>

#include "Paths.h"

namespace lumivale::win32 {

namespace {

// The loader's documented entry, and the runtime's own entry that the loader calls.
using LoaderEntry = HRESULT(STDMETHODCALLTYPE*)(PCWSTR browserFolder, PCWSTR userDataFolder, IUnknown* options,
                                                 IUnknown* handler);
using RuntimeEntry = HRESULT(STDMETHODCALLTYPE*)(bool checkRunningInstance, int runtimeType, PCWSTR userDataFolder,
                                                  IUnknown* options, IUnknown* handler);

// The installed runtime's folder, from the updater's record of the WebView2 runtime (machine
// wide in either registry view, or for this user alone).
std::wstring InstalledRuntimeFolder() {
    constexpr const wchar_t* kKey =
        L"SOFTWARE\\Microsoft\\EdgeUpdate\\ClientState\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";
    const struct {
        HKEY root;
        REGSAM view;
    } places[] = {{HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY}, {HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY}, {HKEY_CURRENT_USER, 0}};
    for (const auto& place : places) {
        wchar_t folder[MAX_PATH * 2] = {};
        DWORD size = sizeof folder;
        if (RegGetValueW(place.root, kKey, L"EBWebView", RRF_RT_REG_SZ | place.view, nullptr, folder, &size) ==
                ERROR_SUCCESS &&
            folder[0] != L'\0') {
            return folder;
        }
    }
    return {};
}

}  // namespace

HRESULT StartWebView2Environment(const std::wstring& userDataFolder, IUnknown* handler, std::string& why) {
    const std::filesystem::path beside = ExecutableFolder() / L"WebView2Loader.dll";
    if (HMODULE loader = LoadLibraryExW(beside.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)) {
        auto entry = reinterpret_cast<LoaderEntry>(
            reinterpret_cast<void*>(GetProcAddress(loader, "CreateCoreWebView2EnvironmentWithOptions")));
        if (!entry) {
            why = "WebView2Loader.dll 里没有 CreateCoreWebView2EnvironmentWithOptions";
            return E_NOINTERFACE;
        }
        const HRESULT result = entry(nullptr, userDataFolder.c_str(), nullptr, handler);
        if (FAILED(result)) why = "CreateCoreWebView2EnvironmentWithOptions 失败";
        return result;
    }

    const std::wstring folder = InstalledRuntimeFolder();
    if (folder.empty()) {
        why = "未找到 WebView2 运行库（也没有 WebView2Loader.dll）";
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    }
    const std::filesystem::path runtime = std::filesystem::path(folder) / L"EBWebView" / L"x64" / L"EmbeddedBrowserWebView.dll";
    HMODULE module = LoadLibraryExW(runtime.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    auto entry = module ? reinterpret_cast<RuntimeEntry>(reinterpret_cast<void*>(
                              GetProcAddress(module, "CreateWebViewEnvironmentWithOptionsInternal")))
                        : nullptr;
    if (!entry) {
        why = "无法加载 WebView2 运行库 " + PathUtf8(runtime);
        return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
    }
    // Runtime type 0: the installed (evergreen) runtime.
    const HRESULT result = entry(true, 0, userDataFolder.c_str(), nullptr, handler);
    if (FAILED(result)) why = "WebView2 运行库拒绝创建环境";
    return result;
}

}  // namespace lumivale::win32
