#include "CloudClient.h"

#include <chrono>
#include <fstream>
#include <system_error>
#include <utility>
#include <vector>

#include "HttpTransport.h"
#include "Log.h"

namespace lumivale {

namespace {

std::int64_t NowUnixSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// The port text's leading decimal digits; 0 when there are none or the value is absurd.
int ParsePort(std::string_view text) {
    long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        value = value * 10 + (c - '0');
        if (value > 65535) return 0;
    }
    return static_cast<int>(value);
}

HttpRequest MakeRequest(std::string method, std::string url, int timeoutMs,
                        const std::string& trustedCertificates) {
    HttpRequest request;
    request.method = std::move(method);
    request.url = std::move(url);
    request.connectTimeout = std::chrono::milliseconds(timeoutMs);
    request.receiveTimeout = std::chrono::milliseconds(timeoutMs);
    request.trustedCertificates = trustedCertificates;
    return request;
}

// "Name: value\r\n" lines into headers; lines without a colon are skipped.
std::vector<HttpHeader> ParseHeaderText(std::string_view text) {
    std::vector<HttpHeader> headers;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) continue;
        std::string_view value = line.substr(colon + 1);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
        headers.push_back({std::string(line.substr(0, colon)), std::string(value)});
    }
    return headers;
}

// Sends and collects the body. Empty text when nothing was answered, when the cap (0: none) was
// passed, or when the request could not be made; a body cut off midway is kept as far as read.
BackendAnswer Collect(const HttpRequest& request, std::size_t cap) {
    std::string body;
    bool overCap = false;
    const HttpResponse response = SendHttpRequest(request, [&](std::string_view piece) {
        if (cap != 0 && body.size() + piece.size() > cap) {
            overCap = true;
            return false;
        }
        body.append(piece);
        return true;
    });
    if (overCap || !response.answered) return {response.status, {}};
    return {response.status, std::move(body)};
}

std::string CollectText(const HttpRequest& request, std::size_t cap) { return Collect(request, cap).body; }

// The backend's request path: "/" when empty, a leading "/" added when missing.
std::string BackendPath(std::string_view path) {
    if (path.empty()) return "/";
    if (path.front() != '/') return "/" + std::string(path);
    return std::string(path);
}

}  // namespace

std::string SplitAddress::Url() const {
    const int effectivePort = port != 0 ? port : (secure ? 443 : 80);
    return std::string(secure ? "https://" : "http://") + host + ":" + std::to_string(effectivePort) + path;
}

SplitAddress SplitBackendAddress(std::string_view address) {
    SplitAddress split;
    split.secure = address.starts_with("https://");
    std::string_view rest = address;
    if (const std::size_t scheme = address.find("://"); scheme != std::string_view::npos) {
        rest = address.substr(scheme + 3);
    }
    const std::size_t slash = rest.find('/');
    const std::string_view authority = rest.substr(0, slash);
    split.path = slash == std::string_view::npos ? std::string("/") : std::string(rest.substr(slash));
    const std::size_t colon = authority.find(':');
    split.host = std::string(authority.substr(0, colon));
    split.port = colon == std::string_view::npos ? (split.secure ? 443 : 80)
                                                 : ParsePort(authority.substr(colon + 1));
    return split;
}

std::string PercentEncode(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * 3);
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool keep = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                          (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' ||
                          byte == '~';
        if (keep) {
            out += c;
        } else {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        }
    }
    return out;
}

CloudClient::CloudClient(std::string baseAddress) : baseAddress_(std::move(baseAddress)) {}

std::string CloudClient::SignedRequest(std::string_view method, std::string_view path,
                                       std::string_view playerId, std::string_view body,
                                       std::string_view playerName,
                                       const std::optional<std::string>& signature,
                                       std::optional<std::int64_t> timestamp) {
    std::int64_t ts = 0;
    if (timestamp) {
        ts = *timestamp;
    } else {
        std::lock_guard lock(clockMutex_);
        ts = clock_ ? clock_() : NowUnixSeconds();
    }
    const std::string signatureText =
        signature ? *signature : keys_.SignBase64(std::to_string(ts) + std::string(playerId));
    return SignedExchange(method, path, playerId, body, playerName, signatureText, ts).body;
}

BackendAnswer CloudClient::SignedExchange(std::string_view method, std::string_view path, std::string_view playerId,
                                          std::string_view body, std::string_view playerName,
                                          const std::string& signature, std::int64_t timestamp) {
    SplitAddress target = SplitBackendAddress(baseAddress_);
    target.path = BackendPath(path);
    HttpRequest request = MakeRequest(std::string(method), target.Url(), kSignedRequestTimeoutMs,
                                      trustedCertificates_);
    request.headers.push_back({"Content-Type", "application/json"});
    request.headers.push_back({"X-Player-ID", std::string(playerId)});
    request.headers.push_back({"X-Timestamp", std::to_string(timestamp)});
    request.headers.push_back({"X-Signature", signature});
    if (!playerName.empty()) request.headers.push_back({"X-Player-Name", std::string(playerName)});
    request.body = std::string(body);

    BackendAnswer answer = Collect(request, kMaxBackendAnswerBytes);
    DiagLog("HTTP", std::string(method) + " " + std::string(path) + " respEmpty=" + (answer.body.empty() ? "1" : "0"));
    return answer;
}

std::int64_t CloudClient::NextTimestamp(std::string_view playerId) {
    std::lock_guard lock(clockMutex_);
    std::int64_t timestamp = (clock_ ? clock_() : NowUnixSeconds()) + clockOffset_;
    std::int64_t& last = lastTimestamps_[std::string(playerId)];
    if (timestamp <= last) timestamp = last + 1;
    last = timestamp;
    return timestamp;
}

bool CloudClient::AdoptServerTime(std::int64_t serverTime) {
    // Anything outside 1970 .. about year 36000 is no clock; the bounds also keep the sums below in range.
    if (serverTime <= 0 || serverTime >= (std::int64_t{1} << 40)) return false;
    std::lock_guard lock(clockMutex_);
    const std::int64_t local = clock_ ? clock_() : NowUnixSeconds();
    if (local <= 0 || local >= (std::int64_t{1} << 40)) return false;
    clockOffset_ = serverTime - local;
    // Seconds handed out under the old offset no longer push the next one (should one have been used
    // after all, the backend's 409 gets a fresh second, see SignedCall).
    lastTimestamps_.clear();
    return true;
}

void CloudClient::SetClock(std::function<std::int64_t()> clock) {
    std::lock_guard lock(clockMutex_);
    clock_ = std::move(clock);
}

std::string CloudClient::PlainRequest(std::string_view method, std::string_view path) {
    SplitAddress target = SplitBackendAddress(baseAddress_);
    target.path = BackendPath(path);
    HttpRequest request = MakeRequest(std::string(method), target.Url(), kPlainRequestTimeoutMs,
                                      trustedCertificates_);
    request.headers.push_back({"Accept", "application/json"});
    return CollectText(request, kMaxBackendAnswerBytes);
}

std::string CloudClient::GetUrl(std::string_view url, std::string_view extraHeaders) {
    HttpRequest request =
        MakeRequest("GET", SplitBackendAddress(url).Url(), kGetUrlTimeoutMs, trustedCertificates_);
    if (extraHeaders.empty()) {
        request.headers.push_back({"Accept", "application/json"});
    } else {
        request.headers = ParseHeaderText(extraHeaders);
    }
    return CollectText(request, 0);
}

bool CloudClient::DownloadToFile(std::string_view url, const std::filesystem::path& file,
                                 const DownloadProgress& progress) {
    HttpRequest request =
        MakeRequest("GET", SplitBackendAddress(url).Url(), kDownloadTimeoutMs, trustedCertificates_);
    std::filesystem::path partial = file;
    partial += ".part";

    std::ofstream out;
    std::int64_t total = -1;
    std::int64_t written = 0;
    bool writeFailed = false;
    const auto onHead = [&](const HttpResponse& head) {
        if (auto length = head.Header("Content-Length")) {
            try {
                total = std::stoll(*length);
            } catch (...) {
                total = -1;
            }
        }
        out.open(partial, std::ios::binary | std::ios::trunc);
        if (!out) {
            writeFailed = true;
            return false;
        }
        return true;
    };
    const auto sink = [&](std::string_view piece) {
        out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
        if (!out) {
            writeFailed = true;
            return false;
        }
        written += static_cast<std::int64_t>(piece.size());
        if (progress) progress(written, total);
        return true;
    };
    const HttpResponse response = SendHttpRequest(request, sink, onHead);
    if (out.is_open()) {
        out.close();
        if (!out) writeFailed = true;
    }

    std::error_code ignored;
    if (response.ok() && !writeFailed && written > 0) {
        std::error_code moveError;
        std::filesystem::rename(partial, file, moveError);
        if (!moveError) return true;
    }
    std::filesystem::remove(partial, ignored);
    // Once the answer had begun the file counts as replaced: nothing stays behind.
    if (response.answered) std::filesystem::remove(file, ignored);
    return false;
}

std::string CloudClient::CurseForgeKey() const {
    std::lock_guard lock(curseForgeKeyMutex_);
    return curseForgeKey_;
}

std::optional<std::int64_t> CloudClient::FindCurseForgeClass(const std::string& project) const {
    std::lock_guard lock(curseForgeLookupMutex_);
    const auto found = curseForgeClasses_.find(project);
    if (found == curseForgeClasses_.end()) return std::nullopt;
    return found->second;
}

void CloudClient::RememberCurseForgeClass(const std::string& project, std::int64_t classId) {
    std::lock_guard lock(curseForgeLookupMutex_);
    curseForgeClasses_[project] = classId;
}

}  // namespace lumivale
