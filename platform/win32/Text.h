#pragma once
// UTF-8 <-> UTF-16 for the Windows calls, and small handle helpers. Only platform/win32 and
// its neighbours (winhttp/, bcrypt/) include this.
#include <windows.h>

#include <string>
#include <string_view>

namespace lumivale::win32 {

std::wstring Wide(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);

// Closes a kernel handle on every path; empty for null and INVALID_HANDLE_VALUE alike.
class Handle {
public:
    explicit Handle(HANDLE handle = nullptr) : handle_(handle) {}
    ~Handle() { Reset(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    Handle(Handle&& other) noexcept : handle_(other.Release()) {}
    Handle& operator=(Handle&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    HANDLE Get() const { return handle_; }
    bool Valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    HANDLE Release() {
        HANDLE handle = handle_;
        handle_ = nullptr;
        return handle;
    }
    void Reset(HANDLE handle = nullptr) {
        if (Valid()) CloseHandle(handle_);
        handle_ = handle;
    }

private:
    HANDLE handle_;
};

// A security descriptor whose DACL lets the current user alone in (inherited by what is made
// inside a folder); null when the user's SID cannot be read. Freed with LocalFree.
PSECURITY_DESCRIPTOR OwnerOnlyDescriptor();

}  // namespace lumivale::win32
