#include "DiagnosticZip.h"

#include <algorithm>
#include <fstream>

#include "Files.h"
#include "Paths.h"
#include "ZipBuilder.h"

namespace lumivale {

namespace {

// The log's first and last bytes, each part cut at a line end so that no secret is split in two
// (a split secret would escape the masking).
bool ReadForZip(const std::string& path, std::string& out) {
    std::ifstream in(Utf8Path(path), std::ios::binary);
    if (!in) return false;
    in.seekg(0, std::ios::end);
    const std::streamoff end = in.tellg();
    if (end < 0) return false;
    const auto size = static_cast<std::uint64_t>(end);
    const auto read = [&](std::uint64_t from, std::uint64_t count) {
        std::string bytes(count, '\0');
        in.seekg(static_cast<std::streamoff>(from));
        in.read(bytes.data(), static_cast<std::streamsize>(count));
        bytes.resize(static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
        return bytes;
    };
    if (size <= kDiagnosticHeadBytes + kDiagnosticTailBytes) {
        out = read(0, size);
        return in.good() || in.eof();
    }
    std::string head = read(0, kDiagnosticHeadBytes);
    std::string tail = read(size - kDiagnosticTailBytes, kDiagnosticTailBytes);
    head.resize(head.rfind('\n') == std::string::npos ? 0 : head.rfind('\n') + 1);
    const std::size_t firstEnd = tail.find('\n');
    tail.erase(0, firstEnd == std::string::npos ? tail.size() : firstEnd + 1);
    const std::uint64_t left = size - head.size() - tail.size();
    out = head + "\n[Lumivale] …… 这里省略了 " + std::to_string(left) + " 字节 ……\n\n" + tail;
    return true;
}

}  // namespace

std::string MaskSecrets(std::string text, const std::vector<std::string>& secrets) {
    for (const std::string& secret : secrets) {
        if (secret.size() < 3) continue;
        for (std::size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at + 3)) {
            text.replace(at, secret.size(), "***");
        }
    }
    return text;
}

std::string DiagnosticEntryName(const CrashLog& log) {
    const std::string name = PathUtf8(Utf8Path(log.path).filename());
    switch (log.kind) {
        case CrashLogKind::CrashReport:
            return "crash-reports/" + name;
        case CrashLogKind::Latest:
            return "logs/latest.log";
        case CrashLogKind::HsErr:
            return name;
        case CrashLogKind::Output:
            break;
    }
    return "launcher/" + name;
}

bool WriteDiagnosticZip(const std::filesystem::path& target, const std::vector<CrashLog>& logs, const std::string& summary,
                        const std::vector<std::string>& secrets, std::int64_t nowUnixSeconds, std::string& error) {
    ZipBuilder zip(nowUnixSeconds);
    zip.Add(kDiagnosticSummaryName, MaskSecrets(summary, secrets));
    for (const CrashLog& log : logs) {
        std::string bytes;
        if (!ReadForZip(log.path, bytes)) continue;  // gone since the crash: the rest still helps
        zip.Add(DiagnosticEntryName(log), MaskSecrets(std::move(bytes), secrets));
    }
    if (!WriteFileAtomically(target, zip.Finish())) {
        error = "无法写入 " + PathUtf8(target);
        return false;
    }
    return true;
}

}  // namespace lumivale
