#include "Portable.h"

#include <cstdlib>
#include <stdexcept>

#if defined(_WIN32)
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <vector>
#else
#include <sys/stat.h>
#include <sys/time.h>
#endif

namespace lumivale::test {

#if defined(_WIN32)

namespace {

std::wstring Wide(const std::string& text) { return std::filesystem::path(std::u8string(text.begin(), text.end())).wstring(); }

std::vector<unsigned char> CurrentUserSid() {
    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> user(size);
    GetTokenInformation(token, TokenUser, user.data(), size, &size);
    CloseHandle(token);
    const PSID sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
    const auto* bytes = static_cast<const unsigned char*>(sid);
    return std::vector<unsigned char>(bytes, bytes + GetLengthSid(sid));
}

}  // namespace

void SetEnv(const std::string& name, const std::string& value) {
    SetEnvironmentVariableW(Wide(name).c_str(), Wide(value).c_str());
    _putenv_s(name.c_str(), value.c_str());
}

void UnsetEnv(const std::string& name) {
    SetEnvironmentVariableW(Wide(name).c_str(), nullptr);
    _putenv_s(name.c_str(), "");
}

const char* DataHomeVariable() { return "LOCALAPPDATA"; }

void SetModifiedTime(const std::filesystem::path& file, std::int64_t unixSeconds) {
    const std::uint64_t ticks = static_cast<std::uint64_t>(unixSeconds + 11644473600ll) * 10000000ull;
    const FILETIME time{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    HANDLE handle = CreateFileW(file.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    const bool ok = handle != INVALID_HANDLE_VALUE && SetFileTime(handle, nullptr, &time, &time);
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    if (!ok) throw std::runtime_error("cannot set the time of " + file.string());
}

bool RunningUnderWine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

unsigned AccessMode(const std::filesystem::path& path) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                              nullptr, &descriptor) != ERROR_SUCCESS) {
        throw std::runtime_error("cannot read the DACL of " + path.string());
    }
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    bool ownerOnly = dacl != nullptr && (control & SE_DACL_PROTECTED) != 0 && dacl->AceCount == 1;
    void* ace = nullptr;
    if (ownerOnly && GetAce(dacl, 0, &ace)) {
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        const auto user = CurrentUserSid();
        ownerOnly = allowed->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
                    EqualSid(reinterpret_cast<PSID>(&allowed->SidStart), const_cast<unsigned char*>(user.data()));
    }
    LocalFree(descriptor);
    if (!ownerOnly) return 0777;
    return std::filesystem::is_directory(path) ? 0700 : 0600;
}

#else

void SetEnv(const std::string& name, const std::string& value) { ::setenv(name.c_str(), value.c_str(), 1); }

void UnsetEnv(const std::string& name) { ::unsetenv(name.c_str()); }

const char* DataHomeVariable() { return "XDG_DATA_HOME"; }

bool RunningUnderWine() { return false; }

void SetModifiedTime(const std::filesystem::path& file, std::int64_t unixSeconds) {
    const timeval times[2] = {{static_cast<time_t>(unixSeconds), 0}, {static_cast<time_t>(unixSeconds), 0}};
    if (::utimes(file.c_str(), times) != 0) throw std::runtime_error("cannot set the time of " + file.string());
}

unsigned AccessMode(const std::filesystem::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) throw std::runtime_error("cannot stat " + path.string());
    return info.st_mode & 07777;
}

#endif

}  // namespace lumivale::test
