#include "Paths.h"

#include "Text.h"

namespace lumivale {

namespace {

constexpr DWORD kMaxVariable = 32767;

// The variable's value when its length is 1 to 32,767 characters.
std::optional<std::wstring> Variable(const wchar_t* name) {
    std::wstring value(kMaxVariable + 1, L'\0');
    const DWORD length = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
    if (length == 0 || length > kMaxVariable) return std::nullopt;
    value.resize(length);
    return value;
}

std::wstring WithBackslash(std::wstring folder) {
    if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
    return folder;
}

}  // namespace

std::filesystem::path ExecutableFolder() {
    std::wstring file(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, file.data(), static_cast<DWORD>(file.size()));
        if (length == 0) return ".";
        if (length < file.size()) {
            file.resize(length);
            break;
        }
        if (file.size() >= 32768) return ".";
        file.resize(file.size() * 2);
    }
    const std::filesystem::path exe(file);
    return exe.has_parent_path() ? exe.parent_path() : std::filesystem::path(".");
}

std::optional<std::string> EnvironmentValue(const char* name) {
    const auto value = Variable(win32::Wide(name).c_str());
    if (!value) return std::nullopt;
    return win32::Narrow(*value);
}

std::filesystem::path TempFolder() {
    const std::filesystem::path fallback = L"C:\\Windows\\Temp";
    wchar_t buffer[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH + 1) return fallback;
    std::wstring folder(buffer, length);
    while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
    return folder.empty() ? fallback : std::filesystem::path(folder);
}

namespace {

// %LOCALAPPDATA%, else %USERPROFILE%\AppData\Local, else C:\Users\Public; with a final "\".
std::wstring LocalAppData() {
    std::wstring base;
    if (auto local = Variable(L"LOCALAPPDATA")) {
        base = *local;
    } else if (auto profile = Variable(L"USERPROFILE")) {
        base = WithBackslash(*profile) + L"AppData\\Local";
    } else {
        base = L"C:\\Users\\Public";
    }
    return WithBackslash(base);
}

}  // namespace

std::filesystem::path UserDataFolder() { return std::filesystem::path(LocalAppData() + L"LumivaleLauncher"); }

// Beside the data, in a folder of its own: what the web views keep may be thrown away.
std::filesystem::path UserCacheFolder() { return UserDataFolder() / L"Cache"; }

}  // namespace lumivale
