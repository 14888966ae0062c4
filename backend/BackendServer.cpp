#include "BackendServer.h"

#include <httplib.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstring>
#include <exception>
#include <nlohmann/json.hpp>
#include <optional>
#include <string_view>
#include <vector>

#include "SignatureCheck.h"

namespace lumivale::backend {

namespace {

using nlohmann::json;

constexpr std::size_t kMaxPlayerIdBytes = 256;

std::int64_t SystemNow() {
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

// Well-formed UTF-8 (every store keeps text as UTF-8; PostgreSQL refuses anything else).
bool IsUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80           ? 1
                                   : (lead >> 5) == 0x6  ? 2
                                   : (lead >> 4) == 0xE  ? 3
                                   : (lead >> 3) == 0x1E ? 4
                                                         : 0;
        if (length == 0 || (length > 1 && lead < 0xC2) || i + length > text.size()) return false;
        for (std::size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        }
        i += length;
    }
    return true;
}

// The signed headers of a request.
struct SignedHeaders {
    std::string playerId;
    std::int64_t timestamp = 0;
    std::vector<unsigned char> signature;
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
    const std::string signature = req.get_header_value("X-Signature");
    const auto timestamp = ParseDecimal(req.get_header_value("X-Timestamp"));
    if (!timestamp) {
        Refuse(res, 400, "malformed timestamp");
        return std::nullopt;
    }
    headers.timestamp = *timestamp;
    if (headers.playerId.empty() || headers.playerId.size() > kMaxPlayerIdBytes || !IsUtf8(headers.playerId)) {
        Refuse(res, 400, "malformed player id");
        return std::nullopt;
    }
    if (signature.empty()) {
        Refuse(res, 400, "empty signature");
        return std::nullopt;
    }
    // Bounds around the server's own (sane) clock: no difference of two arbitrary numbers to overflow.
    if (headers.timestamp < now - kTimestampWindowSeconds || headers.timestamp > now + kTimestampWindowSeconds) {
        Answer(res, 401, json{{"success", false}, {"error", "timestamp outside the accepted window"},
                              {"server_time", now}});
        return std::nullopt;
    }
    auto bytes = DecodeCanonicalBase64(signature);
    if (!bytes) {
        Refuse(res, 401, "signature is not canonical Base64");
        return std::nullopt;
    }
    headers.signature = std::move(*bytes);
    return headers;
}

bool Verify(const SignedHeaders& headers, const std::string& pem, httplib::Response& res) {
    if (VerifySignature(pem, std::to_string(headers.timestamp) + headers.playerId, headers.signature)) return true;
    Refuse(res, 401, "signature does not verify");
    return false;
}

// Every accepted signed request, read or write, is taken once: by its player and second, and by
// its signature, so that neither the headers of a read nor another spelling of a signature can be
// used again.
bool Record(BackendStore& store, const SignedHeaders& headers, httplib::Response& res, std::int64_t now) {
    if (store.RecordRequest(headers.playerId, headers.timestamp, HexOf(headers.signature),
                            now - 2 * kTimestampWindowSeconds)) {
        return true;
    }
    Refuse(res, 409, "request already used");
    return false;
}

// The signed request of a registered player whose id is also in the path.
std::optional<SignedHeaders> AuthenticatePlayer(BackendStore& store, const httplib::Request& req,
                                                httplib::Response& res, std::int64_t now) {
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
    if (!Verify(*headers, key->pem, res) || !Record(store, *headers, res, now)) return std::nullopt;
    store.NoteKeyUse(headers->playerId, key->pem, now);
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

// One whole request in, its answer out: httplib's request parsing, routing and answer writing,
// run on the bytes the connection loop collected.
class Router : public httplib::Server {
public:
    Reply Answer(const std::string& request, const std::string& peer) {
        MemoryStream stream(request, peer);
        bool closed = false;
        process_request(stream, false, closed, [](httplib::Request&) {});
        if (stream.out.empty()) return {};  // nothing to answer: the connection closes
        return {std::move(stream.out), !closed};
    }

private:
    class MemoryStream : public httplib::Stream {
    public:
        MemoryStream(const std::string& in, const std::string& peer) : in_(in), peer_(peer) {}
        bool is_readable() const override { return true; }
        bool is_writable() const override { return true; }
        ssize_t read(char* ptr, size_t size) override {
            const std::size_t count = std::min(size, in_.size() - at_);
            std::memcpy(ptr, in_.data() + at_, count);
            at_ += count;
            return static_cast<ssize_t>(count);
        }
        ssize_t write(const char* ptr, size_t size) override {
            out.append(ptr, size);
            return static_cast<ssize_t>(size);
        }
        void get_remote_ip_and_port(std::string& ip, int& port) const override {
            ip = peer_;
            port = 0;
        }
        void get_local_ip_and_port(std::string& ip, int& port) const override {
            ip.clear();
            port = 0;
        }
        socket_t socket() const override { return INVALID_SOCKET; }

        std::string out;

    private:
        const std::string& in_;
        const std::string& peer_;
        std::size_t at_ = 0;
    };
};

namespace {

void AddRoutes(Router& http, BackendStore& store, const std::function<std::int64_t()>& clock,
               const ConnectionLimits& limits) {
    http.set_payload_max_length(limits.maxBodyBytes);
    // What the answers' Keep-Alive header tells clients; the connection loop enforces the timeout.
    http.set_keep_alive_timeout(
        std::max<time_t>(1, std::chrono::duration_cast<std::chrono::seconds>(limits.requestTimeout).count()));
    http.set_keep_alive_max_count(1000);

    http.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty()) {
            Refuse(res, res.status, res.status == 404 ? "no such endpoint" : "request refused");
        }
    });
    http.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
        Refuse(res, 500, "internal error");
    });

    http.Get("/api/ping", [clock](const httplib::Request&, httplib::Response& res) {
        Answer(res, 200, json{{"success", true}, {"server_time", clock()}});
    });

    http.Post("/api/register_key", [&store, clock](const httplib::Request& req, httplib::Response& res) {
        const std::int64_t now = clock();
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
        if (!Verify(*headers, pem, res)) return;
        const auto locked = [&res](std::int64_t retryAfter) {
            Answer(res, 409, json{{"success", false}, {"reregister_locked", true}, {"retry_after", retryAfter}});
        };
        const auto existing = store.FindKey(headers->playerId);
        if (existing && existing->pem == pem) {
            if (!Record(store, *headers, res, now)) return;
            store.NoteKeyUse(headers->playerId, existing->pem, now);
            Answer(res, 200, json{{"success", true}, {"already_registered", true}});
            return;
        }
        // Another key waits until the registered one has signed nothing for the lock's length. A
        // refused registration is not recorded: it changed nothing, and recording it would let anyone
        // use up the player's seconds.
        if (existing && existing->LastUse() > now - kReregisterLockSeconds) {
            locked(std::clamp<std::int64_t>(existing->LastUse() + kReregisterLockSeconds - now, 1,
                                            kReregisterLockSeconds));
            return;
        }
        if (!Record(store, *headers, res, now)) return;
        if (!store.SaveKey(headers->playerId, pem, now, now - kReregisterLockSeconds)) {
            locked(kReregisterLockSeconds);  // another registration or request got in first
            return;
        }
        Answer(res, 200, json{{"success", true}});
    });

    http.Get(R"(/api/playtime/(.+))", [&store, clock](const httplib::Request& req, httplib::Response& res) {
        const std::int64_t now = clock();
        store.Transaction([&] {
            const auto headers = AuthenticatePlayer(store, req, res, now);
            if (headers) Answer(res, 200, json{{"success", true}, {"total_seconds", store.PlayTime(headers->playerId)}});
        });
    });

    http.Post(R"(/api/playtime/(.+))", [&store, clock](const httplib::Request& req, httplib::Response& res) {
        const std::int64_t now = clock();
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
        // The request's record, its key's use and the new total reach the disk together.
        store.Transaction([&] {
            const auto headers = AuthenticatePlayer(store, req, res, now);
            if (!headers) return;
            const std::int64_t total = store.AddPlayTime(headers->playerId, session->get<std::int64_t>(), now);
            Answer(res, 200, json{{"success", true}, {"total_seconds", total}});
        });
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

}  // namespace

BackendServer::BackendServer(const std::string& database, ServerOptions options)
    : store_(std::make_unique<BackendStore>(database, options.limits.workers)), router_(std::make_unique<Router>()) {
    const std::function<std::int64_t()> clock = options.clock ? options.clock : SystemNow;
    AddRoutes(*router_, *store_, clock, options.limits);
    loop_ = std::make_unique<ConnectionLoop>(
        [router = router_.get()](const std::string& request, const std::string& peer) {
            return router->Answer(request, peer);
        },
        options.limits);
}

BackendServer::~BackendServer() { Stop(); }

bool BackendServer::Start(const std::string& host, int port) {
    if (port_ != 0) return false;
    port_ = loop_->Bind(host, port);
    if (port_ <= 0) {
        port_ = 0;
        return false;
    }
    thread_ = std::thread([this] { loop_->Run(); });
    return true;
}

bool BackendServer::Run(const std::string& host, int port) {
    if (port_ != 0) return false;
    port_ = loop_->Bind(host, port);
    if (port_ <= 0) {
        port_ = 0;
        return false;
    }
    return loop_->Run();
}

void BackendServer::Stop() {
    loop_->RequestStop();
    if (thread_.joinable()) thread_.join();
}

}  // namespace lumivale::backend
