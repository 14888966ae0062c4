// Windows: JAVA_HOME, the JavaHome values the vendors' installers leave in the registry (64-bit
// view), their install folders, then PATH.
#include "JavaLocations.h"

#include "Paths.h"
#include "Text.h"

namespace lumivale {

namespace {

// The "JavaHome" text value of the open key; empty when it has none.
std::string JavaHomeValue(HKEY key) {
    wchar_t value[32768];
    DWORD size = sizeof value;
    DWORD type = 0;
    if (RegQueryValueExW(key, L"JavaHome", nullptr, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return {};
    }
    std::wstring text(value, size / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    return win32::Narrow(text);
}

// The key's own JavaHome, then each direct subkey's, in the order the registry lists them.
void CollectHomes(const wchar_t* path, std::vector<std::string>& homes) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) return;
    if (std::string home = JavaHomeValue(key); !home.empty()) homes.push_back(home);
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD length = 256;
        if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        HKEY sub = nullptr;
        if (RegOpenKeyExW(key, name, 0, KEY_READ | KEY_WOW64_64KEY, &sub) != ERROR_SUCCESS) continue;
        if (std::string home = JavaHomeValue(sub); !home.empty()) homes.push_back(home);
        RegCloseKey(sub);
    }
    RegCloseKey(key);
}

}  // namespace

std::vector<std::string> DefaultJavaRoots() {
    std::vector<std::string> roots = {"C:\\Program Files\\Java", "C:\\Program Files (x86)\\Java",
                                      "C:\\Program Files\\Eclipse Adoptium", "C:\\Program Files\\Microsoft",
                                      "C:\\Program Files\\Amazon Corretto"};
    if (auto local = EnvironmentValue("LOCALAPPDATA"); local && local->size() <= MAX_PATH) {
        roots.push_back(*local + "\\Programs\\Eclipse Adoptium");
    }
    return roots;
}

JavaSearch DefaultJavaSearch() {
    JavaSearch search;
    search.javaHome = EnvironmentValue("JAVA_HOME").value_or("");
    for (const wchar_t* key : {L"SOFTWARE\\JavaSoft\\Java Runtime Environment", L"SOFTWARE\\JavaSoft\\JDK",
                               L"SOFTWARE\\Eclipse Adoptium\\JDK", L"SOFTWARE\\AdoptOpenJDK",
                               L"SOFTWARE\\Azul Systems\\Zulu", L"SOFTWARE\\Amazon Corretto"}) {
        CollectHomes(key, search.registryHomes);
    }
    search.folderRoots = DefaultJavaRoots();
    search.pathVariable = EnvironmentValue("PATH").value_or("");
    return search;
}

}  // namespace lumivale
