#pragma once
// Every path of the launcher's backend that the program calls, with the request each one gets
// and how its answer is read. Answers are scanned as text (no document is parsed), so an answer
// that is not JSON, or an error page, simply lacks the members looked for.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "CloudClient.h"

namespace lumivale {

enum class RegisterResult { Registered, Locked, Failed };

// Signs the decimal timestamp followed by the player id; Base64, empty on failure.
using TimestampSigner = std::function<std::string(std::int64_t timestamp)>;

// A signed request at the client's next timestamp for the player (CloudClient::NextTimestamp),
// signed by `sign` (the key store's SignBase64 when empty), with the recoveries the backend's
// refusals allow, so that no play time is refused for the launcher's own timing:
// - a 401 whose answer names "server_time" (the local clock is off by more than the backend
//   accepts): that time is adopted and the request sent once more;
// - a 409 that is no registration lock (the player's second was used already, e.g. by the same
//   install running twice): sent again with a fresh second, at most twice.
BackendAnswer SignedCall(CloudClient& client, std::string_view method, std::string_view path,
                         std::string_view playerId, std::string_view body, std::string_view playerName,
                         const TimestampSigner& sign = nullptr);

// Retry-after handed back by a refused registration that names none (or an unreadable one).
inline constexpr std::int64_t kDefaultRegisterRetrySeconds = 600;

// POST /api/register_key through SignedCall, signed with KeyStore::SignRegistration, body
// {"player_id":...,"pubkey_pem":...}. Registered when the answer has "success":true (or
// "success": true). Otherwise retryAfterSeconds gets the answer's "retry_after" (600 when
// missing or unreadable), and the result is Locked when the answer names "reregister_locked",
// else Failed. An empty answer or a key that is not ready: Failed, retryAfterSeconds untouched.
RegisterResult RegisterPublicKey(CloudClient& client, std::string_view playerId, std::string_view playerName,
                                 std::int64_t& retryAfterSeconds);

// Signed GET /api/ping with an empty player id: true when the answer names "success" or
// "server_time".
bool Ping(CloudClient& client);

// GET /api/playtime/<encoded player id> through SignedCall: the answer's "total_seconds", -1 when the answer
// is empty, lacks it, or its value is not a number in the 64-bit range.
std::int64_t GetPlaytime(CloudClient& client, std::string_view playerId, std::string_view playerName);

// POST /api/playtime/<encoded player id> through SignedCall with
// {"session_seconds":N,"client_total_seconds":M}; the new server total, read as by GetPlaytime.
std::int64_t UploadPlaytime(CloudClient& client, std::string_view playerId, std::int64_t sessionSeconds,
                            std::int64_t clientTotalSeconds, std::string_view playerName);

// Plain GETs whose whole answer goes to the caller (empty on transport failure).
std::string GetJavaList(CloudClient& client);                                  // /api/java/list
std::string GetJavaDownload(CloudClient& client, std::string_view name);       // /api/java/download?name=
std::string GetModList(CloudClient& client);                                   // /api/mod/list
std::string GetModDownload(CloudClient& client, std::string_view project, std::string_view file);
std::string GetCurseForgeDownload(CloudClient& client, std::string_view project, std::string_view file);

// Fetches the CurseForge API key once (plain GET /api/curseforge/key?token=<built-in token>)
// and keeps it in the client's memory only. True when a key is cached afterwards.
bool GetCurseForgeKey(CloudClient& client);

// The playtime scanner: the decimal value after "total_seconds", -1 when there is none.
std::int64_t ReadTotalSeconds(std::string_view answer);

}  // namespace lumivale
