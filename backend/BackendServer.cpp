#include "BackendServer.h"

#include <httplib.h>

#include <atomic>
#include <charconv>
#include <chrono>
#include <exception>
#include <nlohmann/json.hpp>
#include <optional>

#include "SignatureCheck.h"

namespace lumivale::backend {

namespace {

using nlohmann::json;

constexpr std::size_t kMaxBodyBytes = 1024 * 1024;
constexpr std::size_t kMaxPlayerIdBytes = 256;

std::int64_t Now() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void Answer(httplib::Response& res, int status, const json& body) {
    res.status = status;
    res.set_content(body.dump(), "application/json");
}

void Refuse(httplib::Response& res, int status, const std::string& error) {
    Answer(res, status, json{{"success", false}, {"error", error}});
}

// A whole decimal 64-bit number with an optional leading '-'.
std::optional<std::int64_t> ParseDecimal(const std::string& text) {
    std::int64_t value = 0;
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    if (text.empty() || result.ec != std::errc() || result.ptr != end) return std::nullopt;
    return value;
}

bool EqualConstantTime(const std::string& a, const std::string& b) {
    if (a.size() != b.size() || b.empty()) return false;
    unsigned char diff = 0;
    for (std::size_t i = 0; i < a.size(); ++i) diff = static_cast<unsigned char>(diff | (a[i] ^ b[i]));
    return diff == 0;
}

// The signed headers of a request.
struct SignedHeaders {
    std::string playerId;
    std::int64_t timestamp = 0;
    std::string signature;
};

// Reads the signed headers and checks the timestamp window; answers the refusal itself.
std::optional<SignedHeaders> ReadSignedHeaders(const httplib::Request& req, httplib::Response& res,
                                               std::int64_t now) {
    if (!req.has_header("X-Player-ID") || !req.has_header("X-Timestamp") || !req.has_header("X-Signature")) {
        Refuse(res, 400, "missing signature headers");
        return std::nullopt;
    }
    SignedHeaders headers;
    headers.playerId = req.get_header_value("X-Player-ID");
    headers.signature = req.get_header_value("X-Signature");
    const auto timestamp = ParseDecimal(req.get_header_value("X-Timestamp"));
    if (!timestamp) {
        Refuse(res, 400, "malformed timestamp");
        return std::nullopt;
    }
    headers.timestamp = *timestamp;
    if (headers.playerId.empty() || headers.playerId.size() > kMaxPlayerIdBytes) {
        Refuse(res, 400, "malformed player id");
        return std::nullopt;
    }
    if (headers.signature.empty()) {
        Refuse(res, 400, "empty signature");
        return std::nullopt;
    }
    const std::int64_t skew = headers.timestamp > now ? headers.timestamp - now : now - headers.timestamp;
    if (headers.timestamp < now - kTimestampWindowSeconds || headers.timestamp > now + kTimestampWindowSeconds ||
        skew > kTimestampWindowSeconds) {
        Answer(res, 401, json{{"success", false}, {"error", "timestamp outside the accepted window"},
                              {"server_time", now}});
        return std::nullopt;
    }
    return headers;
}

// Verifies the signature with `pem`. For a request that changes something (`action` not empty)
// the signature is recorded so that it is never accepted again for that action. Reads are not
// recorded: the signature depends only on the second and the player id, so a launcher that reads
// twice within one second sends the same headers twice, and repeating a read changes nothing.
bool CheckSignature(BackendStore& store, const std::string& action, const SignedHeaders& headers,
                    const std::string& pem, httplib::Response& res, std::int64_t now) {
    const std::string message = std::to_string(headers.timestamp) + headers.playerId;
    if (!VerifySignature(pem, message, headers.signature)) {
        Refuse(res, 401, "signature does not verify");
        return false;
    }
    if (!action.empty() && !store.RecordSignature(action, headers.playerId, headers.timestamp, headers.signature,
                                                  now - 2 * kTimestampWindowSeconds)) {
        Refuse(res, 409, "request already used");
        return false;
    }
    return true;
}

// The signed request of a registered player whose id is also in the path.
std::optional<SignedHeaders> AuthenticatePlayer(BackendStore& store, const std::string& action,
                                                const httplib::Request& req, httplib::Response& res,
                                                std::int64_t now) {
    auto headers = ReadSignedHeaders(req, res, now);
    if (!headers) return std::nullopt;
    const std::string pathId = req.matches.size() > 1 ? req.matches[1].str() : std::string();
    if (pathId != headers->playerId) {
        Refuse(res, 403, "player id of the path and of the signature differ");
        return std::nullopt;
    }
    const auto key = store.FindKey(headers->playerId);
    if (!key) {
        Refuse(res, 401, "player has no registered key");
        return std::nullopt;
    }
    if (!CheckSignature(store, action, *headers, key->pem, res, now)) return std::nullopt;
    return headers;
}

std::optional<json> ParseBody(const httplib::Request& req, httplib::Response& res) {
    json body = json::parse(req.body, nullptr, false);
    if (body.is_discarded() || !body.is_object()) {
        Refuse(res, 400, "body is not a JSON object");
        return std::nullopt;
    }
    return body;
}

std::optional<std::string> RequiredParam(const httplib::Request& req, httplib::Response& res, const char* name) {
    if (!req.has_param(name) || req.get_param_value(name).empty()) {
        Refuse(res, 400, std::string("missing parameter ") + name);
        return std::nullopt;
    }
    return req.get_param_value(name);
}

json ModAnswer(const ModEntry& mod) {
    return json{{"success", true}, {"project", mod.project}, {"file", mod.file},
                {"url", mod.url},  {"name", mod.name},       {"type", mod.type}};
}

}  // namespace

BackendServer::BackendServer(const std::filesystem::path& database)
    : store_(std::make_unique<BackendStore>(database)), http_(std::make_unique<httplib::Server>()) {
    Routes();
}

BackendServer::~BackendServer() { Stop(); }

void BackendServer::Routes() {
    httplib::Server& http = *http_;
    BackendStore& store = *store_;
    http.set_payload_max_length(kMaxBodyBytes);

    http.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty()) {
            Refuse(res, res.status, res.status == 404 ? "no such endpoint" : "request refused");
        }
    });
    http.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
        Refuse(res, 500, "internal error");
    });

    http.Get("/api/ping", [](const httplib::Request&, httplib::Response& res) {
        Answer(res, 200, json{{"success", true}, {"server_time", Now()}});
    });

    http.Post("/api/register_key", [&store](const httplib::Request& req, httplib::Response& res) {
        const std::int64_t now = Now();
        const auto body = ParseBody(req, res);
        if (!body) return;
        const auto headers = ReadSignedHeaders(req, res, now);
        if (!headers) return;
        const auto playerId = body->find("player_id");
        const auto pemMember = body->find("pubkey_pem");
        if (playerId == body->end() || !playerId->is_string() || pemMember == body->end() ||
            !pemMember->is_string()) {
            Refuse(res, 400, "player_id and pubkey_pem are required");
            return;
        }
        if (playerId->get<std::string>() != headers->playerId) {
            Refuse(res, 403, "player id of the body and of the signature differ");
            return;
        }
        const std::string pem = NormalizePem(pemMember->get<std::string>());
        if (!IsUsablePublicKeyPem(pem)) {
            Refuse(res, 400, "pubkey_pem is not an RSA public key");
            return;
        }
        // The registration proves possession of the key it registers.
        if (!CheckSignature(store, "register", *headers, pem, res, now)) return;
        if (const auto existing = store.FindKey(headers->playerId)) {
            if (NormalizePem(existing->pem) == pem) {
                Answer(res, 200, json{{"success", true}, {"already_registered", true}});
                return;
            }
            const std::int64_t age = now - existing->registeredAt;
            if (age >= 0 && age < kReregisterLockSeconds) {
                Answer(res, 409, json{{"success", false}, {"reregister_locked", true},
                                      {"retry_after", kReregisterLockSeconds - age}});
                return;
            }
        }
        store.SaveKey(headers->playerId, pem, now);
        Answer(res, 200, json{{"success", true}});
    });

    http.Get(R"(/api/playtime/(.+))", [&store](const httplib::Request& req, httplib::Response& res) {
        const std::int64_t now = Now();
        const auto headers = AuthenticatePlayer(store, "", req, res, now);
        if (!headers) return;
        Answer(res, 200, json{{"success", true}, {"total_seconds", store.PlayTime(headers->playerId)}});
    });

    http.Post(R"(/api/playtime/(.+))", [&store](const httplib::Request& req, httplib::Response& res) {
        const std::int64_t now = Now();
        const auto body = ParseBody(req, res);
        if (!body) return;
        const auto session = body->find("session_seconds");
        if (session == body->end() || !session->is_number_integer()) {
            Refuse(res, 400, "session_seconds must be an integer");
            return;
        }
        const bool inRange = session->is_number_unsigned()
                                 ? session->get<std::uint64_t>() <= static_cast<std::uint64_t>(kMaxSessionSeconds)
                                 : session->get<std::int64_t>() >= 0 && session->get<std::int64_t>() <= kMaxSessionSeconds;
        if (!inRange) {
            Refuse(res, 400, "session_seconds must lie between 0 and 86400");
            return;
        }
        const auto headers = AuthenticatePlayer(store, "playtime", req, res, now);
        if (!headers) return;
        const std::int64_t total = store.AddPlayTime(headers->playerId, session->get<std::int64_t>(), now);
        Answer(res, 200, json{{"success", true}, {"total_seconds", total}});
    });

    http.Get("/api/java/list", [&store](const httplib::Request&, httplib::Response& res) {
        json items = json::array();
        for (const JavaEntry& java : store.JavaList()) {
            items.push_back(json{{"name", java.name}, {"url", java.url}, {"sha256", java.sha256}, {"size", java.size}});
        }
        Answer(res, 200, json{{"success", true}, {"items", items}});
    });

    http.Get("/api/java/download", [&store](const httplib::Request& req, httplib::Response& res) {
        const auto name = RequiredParam(req, res, "name");
        if (!name) return;
        const auto java = store.FindJava(*name);
        if (!java) {
            Refuse(res, 404, "unknown Java package");
            return;
        }
        Answer(res, 200, json{{"success", true}, {"name", java->name}, {"url", java->url},
                              {"sha256", java->sha256}, {"size", java->size}});
    });

    http.Get("/api/mod/list", [&store](const httplib::Request&, httplib::Response& res) {
        json items = json::array();
        for (const ModEntry& mod : store.ModList()) {
            items.push_back(json{{"project", mod.project}, {"file", mod.file}, {"name", mod.name}, {"type", mod.type}});
        }
        Answer(res, 200, json{{"success", true}, {"items", items}});
    });

    const auto modDownload = [&store](const httplib::Request& req, httplib::Response& res) {
        const auto project = RequiredParam(req, res, "project");
        if (!project) return;
        const auto file = RequiredParam(req, res, "file");
        if (!file) return;
        const auto mod = store.FindMod(*project, *file);
        if (!mod || mod->url.empty()) {
            Refuse(res, 404, "unknown mod file");
            return;
        }
        Answer(res, 200, ModAnswer(*mod));
    };
    http.Get("/api/mod/download", modDownload);
    http.Get("/api/curseforge/download", modDownload);

    http.Get("/api/curseforge/key", [&store](const httplib::Request& req, httplib::Response& res) {
        const std::string expected = store.Setting("static_token").value_or(kDefaultStaticToken);
        const std::string token = req.has_param("token") ? req.get_param_value("token") : std::string();
        if (!EqualConstantTime(token, expected)) {
            Refuse(res, 403, "invalid token");
            return;
        }
        const auto key = store.Setting("curseforge_key");
        if (!key || key->empty()) {
            Refuse(res, 503, "no CurseForge key configured");
            return;
        }
        Answer(res, 200, json{{"success", true}, {"api_key", *key}});
    });
}

bool BackendServer::Start(const std::string& host, int port) {
    if (thread_.joinable() || http_->is_running()) return false;
    const int bound = port == 0 ? http_->bind_to_any_port(host) : (http_->bind_to_port(host, port) ? port : -1);
    if (bound <= 0) return false;
    port_ = bound;
    listenEnded_ = false;
    thread_ = std::thread([this] {
        http_->listen_after_bind();
        listenEnded_ = true;
    });
    while (!http_->is_running() && !listenEnded_) std::this_thread::yield();
    return true;
}

bool BackendServer::Run(const std::string& host, int port) {
    const int bound = port == 0 ? http_->bind_to_any_port(host) : (http_->bind_to_port(host, port) ? port : -1);
    if (bound <= 0) return false;
    port_ = bound;
    return http_->listen_after_bind();
}

void BackendServer::Stop() {
    http_->stop();
    if (thread_.joinable()) thread_.join();
}

}  // namespace lumivale::backend
