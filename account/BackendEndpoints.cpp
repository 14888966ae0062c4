#include "BackendEndpoints.h"

#include <cerrno>
#include <cstdlib>
#include <optional>

#include "Log.h"
#include "Scrambled.h"
#include "Yggdrasil.h"

namespace lumivale {

namespace {

// The static token that the backend asks for before it hands out the CurseForge key.
constexpr auto kCurseForgeKeyToken = Scramble("lv-cfk-4e9b27d1a8c35f60b2d94e71");
static_assert(kCurseForgeKeyToken.units.size() == 32, "the token is 31 characters");

// At most `count` bytes of UTF-8 text, never ending inside a character.
std::string_view Head(std::string_view text, std::size_t count) {
    if (text.size() <= count) return text;
    while (count > 0 && (static_cast<unsigned char>(text[count]) & 0xC0) == 0x80) --count;
    return text.substr(0, count);
}

// The text after the first ':' that follows the quoted key, up to the next ',' or '}' (or the
// end). Nothing when the key or the colon is missing.
std::optional<std::string_view> ValueTextAfter(std::string_view answer, std::string_view key) {
    const std::string quoted = "\"" + std::string(key) + "\"";
    const std::size_t at = answer.find(quoted);
    if (at == std::string_view::npos) return std::nullopt;
    const std::size_t colon = answer.find(':', at + quoted.size());
    if (colon == std::string_view::npos) return std::nullopt;
    std::string_view rest = answer.substr(colon + 1);
    return rest.substr(0, rest.find_first_of(",}"));
}

// Decimal 64-bit value in the way of strtoll: leading white space skipped, optional sign,
// trailing text ignored. Nothing without digits or out of range.
std::optional<std::int64_t> ParseLeadingInteger(std::string_view text) {
    const std::string copy(text);
    const char* begin = copy.c_str();
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(begin, &end, 10);
    if (end == begin || errno == ERANGE) return std::nullopt;
    return static_cast<std::int64_t>(value);
}

bool Contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

}  // namespace

BackendAnswer SignedCall(CloudClient& client, std::string_view method, std::string_view path,
                         std::string_view playerId, std::string_view body, std::string_view playerName,
                         const TimestampSigner& sign) {
    bool clockAdopted = false;
    int freshSeconds = 0;
    for (;;) {
        const std::int64_t timestamp = client.NextTimestamp(playerId);
        const std::string signature =
            sign ? sign(timestamp) : client.Keys().SignBase64(std::to_string(timestamp) + std::string(playerId));
        if (signature.empty()) return {};
        BackendAnswer answer = client.SignedExchange(method, path, playerId, body, playerName, signature, timestamp);
        if (answer.status == 401 && !clockAdopted) {
            const auto value = ValueTextAfter(answer.body, "server_time");
            const auto serverTime = value ? ParseLeadingInteger(*value) : std::nullopt;
            if (serverTime && client.AdoptServerTime(*serverTime)) {
                clockAdopted = true;
                continue;
            }
        }
        if (answer.status == 409 && freshSeconds < 2 && !Contains(answer.body, "\"reregister_locked\"")) {
            ++freshSeconds;
            continue;
        }
        return answer;
    }
}

std::int64_t ReadTotalSeconds(std::string_view answer) {
    const auto value = ValueTextAfter(answer, "total_seconds");
    if (!value) return -1;
    return ParseLeadingInteger(*value).value_or(-1);
}

RegisterResult RegisterPublicKey(CloudClient& client, std::string_view playerId, std::string_view playerName,
                                 std::int64_t& retryAfterSeconds) {
    KeyStore& keys = client.Keys();
    const bool ready = keys.IsReady();
    DiagLog("REG", std::string("RegisterPublicKey 进入 keyReady=") + (ready ? "1" : "0") + " pid=" +
                       std::string(playerId.substr(0, 12)));
    if (!ready) {
        DiagLog("REG", "RegisterPublicKey 退出：密钥未就绪");
        return RegisterResult::Failed;
    }

    // The key's PEM goes into the body, which stays the same for every attempt SignedCall makes.
    std::string signature;
    std::string pem;
    if (!keys.SignRegistration(0, playerId, signature, pem)) {
        return RegisterResult::Failed;
    }
    const auto sign = [&](std::int64_t timestamp) {
        std::string signed64;
        std::string samePem;
        if (!keys.SignRegistration(timestamp, playerId, signed64, samePem)) return std::string();
        DiagLog("REG", "注册诊断 ts=" + std::to_string(timestamp) + " pid=" + std::string(playerId) +
                           " pubHead=" + std::string(Head(samePem, 60)) + " sigHead=" +
                           std::string(Head(signed64, 40)) + " pubLen=" + std::to_string(samePem.size()) +
                           " sigLen=" + std::to_string(signed64.size()));
        return signed64;
    };
    const std::string body =
        "{\"player_id\":\"" + std::string(playerId) + "\",\"pubkey_pem\":" + EscapeRequestText(pem) + "}";
    const std::string answer =
        SignedCall(client, "POST", "/api/register_key", playerId, body, playerName, sign).body;
    DiagLog("REG", std::string("RegisterPublicKey HttpJson 返回 respEmpty=") + (answer.empty() ? "1" : "0") +
                       " respHead=" + std::string(Head(answer, 80)));

    if (answer.empty()) return RegisterResult::Failed;
    if (Contains(answer, "\"success\":true") || Contains(answer, "\"success\": true")) {
        return RegisterResult::Registered;
    }
    retryAfterSeconds = kDefaultRegisterRetrySeconds;
    if (const auto value = ValueTextAfter(answer, "retry_after")) {
        retryAfterSeconds = ParseLeadingInteger(*value).value_or(kDefaultRegisterRetrySeconds);
    }
    return Contains(answer, "\"reregister_locked\"") ? RegisterResult::Locked : RegisterResult::Failed;
}

bool Ping(CloudClient& client) {
    const std::string answer = client.SignedRequest("GET", "/api/ping", "", "", "");
    return Contains(answer, "\"success\"") || Contains(answer, "\"server_time\"");
}

std::int64_t GetPlaytime(CloudClient& client, std::string_view playerId, std::string_view playerName) {
    return ReadTotalSeconds(
        SignedCall(client, "GET", "/api/playtime/" + PercentEncode(playerId), playerId, "", playerName).body);
}

std::int64_t UploadPlaytime(CloudClient& client, std::string_view playerId, std::int64_t sessionSeconds,
                            std::int64_t clientTotalSeconds, std::string_view playerName) {
    const std::string body = "{\"session_seconds\":" + std::to_string(sessionSeconds) +
                             ",\"client_total_seconds\":" + std::to_string(clientTotalSeconds) + "}";
    return ReadTotalSeconds(
        SignedCall(client, "POST", "/api/playtime/" + PercentEncode(playerId), playerId, body, playerName).body);
}

std::string GetJavaList(CloudClient& client) { return client.PlainRequest("GET", "/api/java/list"); }

std::string GetJavaDownload(CloudClient& client, std::string_view name) {
    return client.PlainRequest("GET", "/api/java/download?name=" + PercentEncode(name));
}

std::string GetModList(CloudClient& client) { return client.PlainRequest("GET", "/api/mod/list"); }

std::string GetModDownload(CloudClient& client, std::string_view project, std::string_view file) {
    return client.PlainRequest("GET", "/api/mod/download?project=" + PercentEncode(project) +
                                          "&file=" + PercentEncode(file));
}

std::string GetCurseForgeDownload(CloudClient& client, std::string_view project, std::string_view file) {
    return client.PlainRequest("GET", "/api/curseforge/download?project=" + PercentEncode(project) +
                                          "&file=" + PercentEncode(file));
}

bool GetCurseForgeKey(CloudClient& client) {
    return client.WithCurseForgeKey([&](std::string& cached) {
        if (!cached.empty()) return true;
        const std::string answer =
            client.PlainRequest("GET", "/api/curseforge/key?token=" + Unscramble(kCurseForgeKeyToken));
        if (answer.empty()) {
            ConsoleLog("CF 密钥获取失败（网络或服务端未配置）");
            return false;
        }
        std::string key;
        if (const std::size_t at = answer.find("\"api_key\""); at != std::string::npos) {
            const std::size_t colon = answer.find(':', at + 9);
            const std::size_t open = colon == std::string::npos ? colon : answer.find('"', colon + 1);
            const std::size_t close = open == std::string::npos ? open : answer.find('"', open + 1);
            if (close != std::string::npos) key = answer.substr(open + 1, close - open - 1);
        }
        if (key.empty()) {
            ConsoleLog("CF 密钥获取被拒（静态令牌不匹配？）");
            return false;
        }
        cached = std::move(key);
        ConsoleLog("已从服务端获取 CurseForge 密钥（仅存内存）");
        return true;
    });
}

}  // namespace lumivale
