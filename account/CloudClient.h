#pragma once
// The launcher's client for its own backend service: key registration, play-time reads and
// uploads, the reachability probe, Java and mod download links and the CurseForge API key (the
// endpoints themselves are in BackendEndpoints.h). One CloudClient lives as long as the App.
//
// Four transport operations, all synchronous on the calling thread and safe from any thread:
// - SignedRequest: a JSON request carrying the player id, a timestamp and an RSA signature of
//   the two made with the install's key (the body is not signed);
// - PlainRequest: a GET-style request without signature;
// - GetUrl: any absolute address with chosen headers;
// - DownloadToFile: a GET whose body goes into a file.
// The HTTP status is never examined: whatever body arrives is handed back, and the endpoint
// code judges it. Transport failures never throw: text operations give empty text,
// DownloadToFile gives false and leaves no file behind.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "KeyStore.h"

namespace lumivale {

// Time-outs of the four operations (resolving, connecting, sending and receiving alike).
inline constexpr int kSignedRequestTimeoutMs = 10000;
inline constexpr int kPlainRequestTimeoutMs = 15000;
inline constexpr int kGetUrlTimeoutMs = 20000;
inline constexpr int kDownloadTimeoutMs = 30000;
// Answers of SignedRequest and PlainRequest above this size are dropped (empty text).
inline constexpr std::size_t kMaxBackendAnswerBytes = 16u * 1024u * 1024u;

// What a signed request brought back.
struct BackendAnswer {
    int status = 0;    // the HTTP status; 0 when nothing was answered
    std::string body;  // empty when nothing was answered or the answer was over the size cap
};

// Bytes written so far and the announced Content-Length (-1 when the answer had none).
using DownloadProgress = std::function<void(std::int64_t written, std::int64_t total)>;

// Where an address points, split the way all four operations split it.
struct SplitAddress {
    bool secure = false;     // the address began with "https://"
    std::string host;        // up to the first ':' of the authority
    int port = 0;            // the port text's decimal value; the scheme's default when 0
    std::string path;        // from the first '/' after the authority (query included), or "/"

    // "http(s)://host:port" + path.
    std::string Url() const;
};
SplitAddress SplitBackendAddress(std::string_view address);

// UTF-8 bytes with A-Z, a-z, 0-9, '-', '.', '_' and '~' kept and every other byte as "%XX"
// (upper-case hex).
std::string PercentEncode(std::string_view text);

class CloudClient {
public:
    // `baseAddress`: scheme, host and optional port; any path part of it is ignored.
    explicit CloudClient(std::string baseAddress);
    CloudClient(const CloudClient&) = delete;
    CloudClient& operator=(const CloudClient&) = delete;

    const std::string& BaseAddress() const { return baseAddress_; }
    KeyStore& Keys() { return keys_; }

    // PEM file of certificates to trust instead of the system's store (tests use it for their
    // loopback HTTPS servers); empty: the system's store. Set before the first request.
    void SetTrustedCertificates(std::string pemFile) { trustedCertificates_ = std::move(pemFile); }

    // A signed request of `path` (relative to the base address). Headers, in order:
    // Content-Type: application/json, X-Player-ID, X-Timestamp, X-Signature and, when the name
    // is not empty, X-Player-Name. The timestamp defaults to the current time in seconds, the
    // signature to KeyStore::SignBase64 of the decimal timestamp followed by the player id.
    // Writes one "HTTP" diagnostic line: method, path and whether the answer was empty.
    std::string SignedRequest(std::string_view method, std::string_view path, std::string_view playerId,
                              std::string_view body, std::string_view playerName = {},
                              const std::optional<std::string>& signature = std::nullopt,
                              std::optional<std::int64_t> timestamp = std::nullopt);

    // SignedRequest with a given signature and timestamp, handing back the answer's status as well.
    BackendAnswer SignedExchange(std::string_view method, std::string_view path, std::string_view playerId,
                                 std::string_view body, std::string_view playerName, const std::string& signature,
                                 std::int64_t timestamp);

    // The timestamp for the player's next signed request: the backend's time as far as this client
    // knows it (the local clock plus what AdoptServerTime learnt), and always later than the last
    // timestamp it handed out for that player, since the backend takes each second of a player once.
    std::int64_t NextTimestamp(std::string_view playerId);
    // The backend said that its clock shows `serverTime` (a refusal of a timestamp outside its
    // window): later timestamps follow its clock. False for a time that cannot be a clock's.
    bool AdoptServerTime(std::int64_t serverTime);
    // The local clock in seconds since 1970 (tests stop it); the system clock when empty.
    void SetClock(std::function<std::int64_t()> clock);

    // A request of `path` with "Accept: application/json", no body, no signature.
    std::string PlainRequest(std::string_view method, std::string_view path);

    // A GET of an absolute address; `extraHeaders` is header text ("Name: value\r\n" lines),
    // "Accept: application/json" when empty. No size cap.
    std::string GetUrl(std::string_view url, std::string_view extraHeaders = {});

    // A GET of an absolute address into `file`. The body goes to a temporary file next to it
    // that is moved into place once complete; success needs at least one byte and no read or
    // write error. On failure no file is left at `file` once the answer had begun.
    bool DownloadToFile(std::string_view url, const std::filesystem::path& file,
                        const DownloadProgress& progress = nullptr);

    // The CurseForge API key fetched from the backend, in memory only; empty until fetched.
    std::string CurseForgeKey() const;
    // Runs `action` with the cached key (which it may set) under the key's mutex.
    template <typename Action>
    auto WithCurseForgeKey(Action&& action) {
        std::lock_guard lock(curseForgeKeyMutex_);
        return action(curseForgeKey_);
    }

    // The CurseForge class id found for a project, remembered for the client's lifetime.
    std::optional<std::int64_t> FindCurseForgeClass(const std::string& project) const;
    void RememberCurseForgeClass(const std::string& project, std::int64_t classId);

private:
    std::string baseAddress_;
    std::string trustedCertificates_;
    KeyStore keys_;

    mutable std::mutex curseForgeKeyMutex_;
    std::string curseForgeKey_;

    mutable std::mutex curseForgeLookupMutex_;
    std::map<std::string, std::int64_t> curseForgeClasses_;

    std::mutex clockMutex_;
    std::function<std::int64_t()> clock_;
    std::int64_t clockOffset_ = 0;
    std::map<std::string, std::int64_t> lastTimestamps_;
};

}  // namespace lumivale
