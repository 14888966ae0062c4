#pragma once
// Calling the hand-declared WebView2 interfaces (WebView2Interfaces.h) and implementing their
// handlers. A call names interface and method; the table turns them into a vtable slot at
// compile time, so a misspelt name does not build.
#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <functional>
#include <string_view>

#include "WebView2Interfaces.h"

namespace lumivale::win32 {

constexpr GUID GuidOf(std::string_view text) {
    auto hex = [&](std::size_t at, std::size_t digits) {
        unsigned long long value = 0;
        for (std::size_t i = at; i < at + digits; ++i) {
            const char c = text[i];
            value = value * 16 + static_cast<unsigned>(c <= '9' ? c - '0' : c - 'a' + 10);
        }
        return value;
    };
    GUID guid{};
    guid.Data1 = static_cast<unsigned long>(hex(0, 8));
    guid.Data2 = static_cast<unsigned short>(hex(9, 4));
    guid.Data3 = static_cast<unsigned short>(hex(14, 4));
    guid.Data4[0] = static_cast<unsigned char>(hex(19, 2));
    guid.Data4[1] = static_cast<unsigned char>(hex(21, 2));
    for (std::size_t i = 0; i < 6; ++i) guid.Data4[2 + i] = static_cast<unsigned char>(hex(24 + 2 * i, 2));
    return guid;
}

// Calls the method in `slot` of `object`'s vtable with `object` as `this`.
template <std::size_t slot, typename... Args>
HRESULT ComCall(void* object, Args... args) {
    using Method = HRESULT(STDMETHODCALLTYPE*)(void*, Args...);
    void** table = *static_cast<void***>(object);
    return reinterpret_cast<Method>(table[slot])(object, args...);
}

#define LUMIVALE_COM(object, iface, method, ...) \
    ::lumivale::win32::ComCall<::lumivale::webview2::Slot(#iface, #method)>(object __VA_OPT__(, ) __VA_ARGS__)

// A reference to a COM object, released on every path.
class ComRef {
public:
    ComRef() = default;
    explicit ComRef(void* object) : object_(static_cast<IUnknown*>(object)) {}  // takes the reference
    ~ComRef() { Reset(); }
    ComRef(const ComRef& other) : object_(other.object_) {
        if (object_) object_->AddRef();
    }
    ComRef& operator=(ComRef other) {
        std::swap(object_, other.object_);
        return *this;
    }
    void* Get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    void Reset() {
        if (object_) object_->Release();
        object_ = nullptr;
    }
    // Where a call stores a new reference.
    void** Put() {
        Reset();
        return reinterpret_cast<void**>(&object_);
    }
    // The object as another interface of the table; empty when it does not offer it.
    ComRef As(std::string_view iface) const {
        ComRef other;
        if (object_) {
            const GUID iid = GuidOf(webview2::Iid(iface));
            if (FAILED(object_->QueryInterface(iid, other.Put()))) other.Reset();
        }
        return other;
    }

private:
    IUnknown* object_ = nullptr;
};

// One of the handler interfaces: IUnknown and Invoke(first, second), both pointer-sized.
template <typename First, typename Second>
class Handler final : public IUnknown {
public:
    using Function = std::function<HRESULT(First, Second)>;

    // A new handler with one reference, owned by the caller.
    static Handler* Make(std::string_view iface, Function function) {
        return new Handler(GuidOf(webview2::Iid(iface)), std::move(function));
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, iid_)) {
            AddRef();
            *out = this;
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }
    // Slot 3, as every handler of the table declares.
    static_assert(webview2::Slot("ICoreWebView2NavigationCompletedEventHandler", "Invoke") == 3);
    virtual HRESULT STDMETHODCALLTYPE Invoke(First first, Second second) { return function_(first, second); }

private:
    Handler(GUID iid, Function function) : iid_(iid), function_(std::move(function)) {}
    ~Handler() = default;  // not virtual: Invoke stays the first slot after IUnknown's

    GUID iid_;
    Function function_;
    std::atomic<ULONG> references_{1};
};

}  // namespace lumivale::win32
