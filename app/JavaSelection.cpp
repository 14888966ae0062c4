#include "JavaSelection.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "Paths.h"
#include "VersionRules.h"

namespace lumivale {

namespace {

bool EqualIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

bool IsExistingFile(const std::string& path) {
    std::error_code error;
    const auto status = std::filesystem::status(Utf8Path(path), error);
    return !error && std::filesystem::exists(status) && !std::filesystem::is_directory(status);
}

std::string JavaLabel(int major) {
    if (major == 8) return "Java 8（1.8.0）";
    return "Java " + std::to_string(major);
}

}  // namespace

int RequiredJavaForCore(const CoreEntry& core) {
    if (core.javaMajor > 0) return core.javaMajor == 16 ? 17 : core.javaMajor;
    return RequiredJavaMajor(core.realVersion.empty() ? core.name : core.realVersion);
}

JavaChoice ChooseJavaForCore(const std::string& selectedJava, const std::vector<JavaInstall>& javaList,
                             const CoreEntry& core) {
    if (selectedJava != "auto") {
        const auto entry = std::find_if(javaList.begin(), javaList.end(),
                                        [&](const JavaInstall& j) { return EqualIgnoringCase(j.exe, selectedJava); });
        if (entry != javaList.end() || IsExistingFile(selectedJava)) {
            return {true, selectedJava, "已使用你选择的 Java 启动", entry != javaList.end() ? JavaMajorOf(entry->name) : 0};
        }
        return {false, {},
                "你选择的 Java 已不存在或不可用（" + selectedJava + "），请到 设置 - Java 运行环境 重新选择"};
    }
    const std::string version = core.realVersion.empty() ? core.name : core.realVersion;
    const int major = RequiredJavaForCore(core);
    const auto java = std::find_if(javaList.begin(), javaList.end(),
                                   [&](const JavaInstall& j) { return JavaMajorOf(j.name) == major; });
    if (java == javaList.end()) {
        return {false, {},
                "未找到适合版本 " + version + " 的 " + JavaLabel(major) + "，请先安装对应 Java 或到设置里手动选择"};
    }
    return {true, java->exe, "已为版本 " + version + " 自动选择推荐 Java", major};
}

}  // namespace lumivale
