#include "Files.h"

#include <aclapi.h>

#include "Text.h"

namespace lumivale {

namespace {

bool WriteAll(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        DWORD written = 0;
        if (!WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
        bytes.remove_prefix(written);
    }
    return true;
}

// Replaces the object's DACL with the user-only one, cutting inheritance from the parent.
bool RestrictToOwner(HANDLE file, const std::filesystem::path& path) {
    PSECURITY_DESCRIPTOR descriptor = win32::OwnerOnlyDescriptor();
    if (descriptor == nullptr) return false;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    bool ok = GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) && present;
    const SECURITY_INFORMATION what = DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;
    if (ok) {
        ok = file != nullptr
                 ? SetSecurityInfo(file, SE_FILE_OBJECT, what, nullptr, nullptr, dacl, nullptr) == ERROR_SUCCESS
                 : SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT, what, nullptr,
                                         nullptr, dacl, nullptr) == ERROR_SUCCESS;
    }
    LocalFree(descriptor);
    return ok;
}

}  // namespace

struct AtomicFile::State {
    std::filesystem::path target;
    std::filesystem::path temp;
    win32::Handle file;
    bool failed = false;
};

AtomicFile::AtomicFile(const std::filesystem::path& target, FileAccess access)
    : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.target = target;
    s.temp = target;
    s.temp += ".tmp";
    s.file.Reset(CreateFileW(s.temp.c_str(), GENERIC_WRITE | WRITE_DAC, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    // Also an old .tmp that is reused gets the private DACL; without it the file is not written.
    if (s.file.Valid() && access == FileAccess::OwnerOnly && !RestrictToOwner(s.file.Get(), s.temp)) {
        s.file.Reset();
        DeleteFileW(s.temp.c_str());
    }
}

AtomicFile::~AtomicFile() {
    State& s = *state_;
    const bool open = s.file.Valid();
    s.file.Reset();
    if (open || s.failed) DeleteFileW(s.temp.c_str());  // nothing half-done stays behind
}

bool AtomicFile::IsOpen() const { return state_->file.Valid(); }

bool AtomicFile::Write(std::string_view bytes) {
    State& s = *state_;
    if (!s.file.Valid() || s.failed) return false;
    if (!WriteAll(s.file.Get(), bytes)) s.failed = true;
    return !s.failed;
}

bool AtomicFile::Commit() {
    State& s = *state_;
    if (!s.file.Valid() || s.failed) return false;
    const bool flushed = FlushFileBuffers(s.file.Get()) != 0;
    s.file.Reset();
    if (!flushed) {
        s.failed = true;
        return false;
    }
    s.failed = !MoveFileExW(s.temp.c_str(), s.target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    return !s.failed;
}

bool CopyFileReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
    return CopyFileW(from.c_str(), to.c_str(), FALSE) != 0;
}

bool ReadWholeFile(const std::filesystem::path& file, std::string& out) {
    win32::Handle handle(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle.Valid()) return false;
    out.clear();
    char buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(handle.Get(), buffer, sizeof buffer, &got, nullptr)) return false;
        if (got == 0) return true;
        out.append(buffer, got);
    }
}

bool AppendToFile(const std::filesystem::path& file, std::string_view bytes, bool truncate) {
    // FILE_APPEND_DATA alone: every write lands at the end, also when another process appends.
    const DWORD access = truncate ? GENERIC_WRITE : FILE_APPEND_DATA | SYNCHRONIZE;
    win32::Handle handle(CreateFileW(file.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, truncate ? CREATE_ALWAYS : OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                     nullptr));
    return handle.Valid() && WriteAll(handle.Get(), bytes);
}

FileStatus StatFile(const std::filesystem::path& file) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data)) return {};
    const std::uint64_t size = (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    const std::uint64_t ticks =
        (std::uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) | data.ftLastWriteTime.dwLowDateTime;
    // FILETIME counts 100 ns steps from 1601-01-01; Unix time starts 11644473600 s later.
    const std::int64_t seconds = static_cast<std::int64_t>(ticks / 10000000ull) - 11644473600ll;
    return {true, size, seconds};
}

bool MakeOwnerOnlyFolder(const std::filesystem::path& folder) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) return false;
    return RestrictToOwner(nullptr, folder);
}

}  // namespace lumivale
