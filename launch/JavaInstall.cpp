#include "JavaInstall.h"

#include <nlohmann/json.hpp>

#include "JsonFields.h"

namespace lumivale {

namespace {

constexpr std::int64_t kMiB = 1048576;

// From the "[" at `open` to its closing "]"; empty when it never closes. With `skipStrings`
// brackets inside JSON strings are not counted.
std::string CutBalanced(std::string_view text, std::size_t open, bool skipStrings) {
    int depth = 0;
    bool inString = false;
    for (std::size_t i = open; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') ++i;
            else if (c == '"') inString = false;
            continue;
        }
        if (c == '"' && skipStrings) inString = true;
        else if (c == '[') ++depth;
        else if (c == ']' && --depth == 0) return std::string(text.substr(open, i - open + 1));
    }
    return {};
}

bool IsJson(const std::string& text) { return nlohmann::json::accept(text); }

}  // namespace

std::string CutItemsArray(std::string_view answer) {
    const std::size_t key = answer.find("\"items\":");
    if (key == std::string_view::npos) return {};
    const std::size_t open = answer.find('[', key);
    if (open == std::string_view::npos) return {};
    std::string items = CutBalanced(answer, open, false);
    // A "]" inside a name would cut the array short and hand the page broken JSON.
    if (!items.empty() && !IsJson(items)) items = CutBalanced(answer, open, true);
    if (!items.empty() && !IsJson(items)) return {};
    return items;
}

std::string JavaCatalogueEvent(std::string_view answer) {
    const std::string items = CutItemsArray(answer);
    // No answer at all is a network problem; an answer without a list is the server's.
    if (answer.empty()) return std::string(R"({"type":"java:list","items":[],"error":")") + kJavaListUnreachable + "\"}";
    if (items.empty()) return std::string(R"({"type":"java:list","items":[],"error":")") + kJavaListUnreadable + "\"}";
    return R"({"type":"java:list","items":)" + items + "}";
}

std::string JavaCatalogueNoCloudEvent() { return R"({"type":"java:list","items":[],"error":"云端未连接"})"; }

bool BackendAnswerSucceeded(std::string_view answer) {
    return answer.find("\"success\":true") != std::string_view::npos ||
           answer.find("\"success\": true") != std::string_view::npos;
}

std::string CleanJavaPackageName(std::string_view name) {
    std::string clean(name);
    for (char& c : clean) {
        switch (c) {
            case '"': case '*': case '/': case ':': case '<': case '>': case '?': case '\\': case '|':
                c = '_';
                break;
            default:
                break;
        }
    }
    return clean;
}

std::string JavaPackageFileName(std::string_view key, std::string_view name, std::string_view suffix) {
    const std::size_t slash = key.rfind('/');
    const std::string_view last = slash == std::string_view::npos ? key : key.substr(slash + 1);
    const bool plain = !last.empty() && last.size() < 256 && last != "." && last != ".." &&
                       last.find('\\') == std::string_view::npos && last.find('\0') == std::string_view::npos;
    if (plain) return std::string(last);
    return CleanJavaPackageName(name) + std::string(suffix);
}

std::string JavaRuntimeFolderName(std::string_view name) {
    std::string folder = CleanJavaPackageName(name);
    for (char& c : folder) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '_';
    }
    if (folder.empty() || folder.size() > 200 || folder.find_first_not_of('.') == std::string::npos) {
        return "java";
    }
    return folder;
}

std::filesystem::path JavaDownloadFolder(const std::filesystem::path& temp) {
    return temp / "LumivaleLauncher" / "java";
}

int JavaDownloadPercent(std::int64_t received, std::int64_t total) {
    if (total <= 0) return 0;
    return static_cast<int>(received * 100 / total);
}

std::string JavaDownloadText(std::int64_t received, std::int64_t total) {
    // Tenths of a MB: a small package does not read "0 MB / 5 MB" for most of its way.
    const auto megabytes = [](std::int64_t bytes) {
        const std::int64_t tenths = bytes * 10 / kMiB;
        return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " MB";
    };
    std::string text = "正在下载 " + megabytes(received);
    if (total > 0) text += " / " + megabytes(total);
    return text;
}

std::string JavaProgressEvent(std::string_view name, std::string_view phase, int percent, std::string_view text) {
    return R"({"type":"java:progress","name":")" + EscapeJsonText(name) + R"(","phase":")" +
           std::string(phase) + R"(","percent":)" + std::to_string(percent) + R"(,"text":")" +
           EscapeJsonText(text) + R"("})";
}

std::string JavaInstallBusyEvent(std::string_view name) {
    return R"({"type":"java:progress","name":")" + EscapeJsonText(name) +
           R"(","phase":"error","text":"已有 Java 安装任务进行中"})";
}

}  // namespace lumivale
