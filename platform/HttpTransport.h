#pragma once
// One HTTP(S) request at a time, on the calling thread: the status and headers of the answer are
// handed to a head handler as soon as they arrive, the body to a sink piece by piece, so that no
// body has to be held in memory.
//
// What the transport always does:
// - TLS certificates and host names are verified (the system's trust store unless the request
//   names its own);
// - redirects are never followed: a 3xx answer comes back like any other, its Location header
//   included, and the caller decides;
// - the body comes as sent (no Accept-Encoding, nothing decoded);
// - each thread keeps its own connections open for its next requests (keep-alive), so a worker
//   that downloads many files from one host connects once. A connection that broke or whose
//   transfer was stopped is never reused. Nothing is shared between threads.
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumivale {

inline constexpr const char* kHttpUserAgent = "LumivaleLauncher/1.0";

struct HttpHeader {
    std::string name;
    std::string value;
};

// A header that can be sent as it is: a name of visible characters without ':', and a value
// without line breaks or NUL, which could otherwise smuggle further headers into the request.
// A request with any other header is refused (HttpFailure::BadRequest) before anything is sent.
inline bool IsSendableHeader(const HttpHeader& header) {
    if (header.name.empty()) return false;
    for (const char c : header.name) {
        if (c <= ' ' || c == ':' || c == 0x7F) return false;
    }
    return header.value.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos;
}

struct HttpRequest {
    std::string method = "GET";
    std::string url;                  // "http://" or "https://" only
    std::vector<HttpHeader> headers;  // sent in addition to Host and User-Agent
    std::string body;                 // sent when not empty
    std::string userAgent = kHttpUserAgent;
    // Resolving the host, connecting and the TLS handshake together.
    std::chrono::milliseconds connectTimeout{30000};
    // The longest silence once the request is on its way: waiting for the answer's head, or for
    // the next piece of its body. A body that keeps coming never times out, however long it is.
    // (Sending the request body does not count as activity: request bodies are small here.)
    std::chrono::milliseconds receiveTimeout{30000};
    // PEM file of the certificates to trust instead of the system's store; empty: the system's.
    std::string trustedCertificates;
};

enum class HttpFailure {
    None,        // an answer arrived and its body was read to the end
    Setup,       // the transport itself could not be set up
    BadRequest,  // the URL or the request was refused before anything was sent
    Network,     // resolving, connecting, TLS, sending or receiving failed (or the peer hung up)
    TimedOut,    // connect time-out, or receive time-out (see HttpRequest::receiveTimeout)
    Aborted,     // the head handler or the body sink asked to stop
};

struct HttpResponse {
    HttpFailure failure = HttpFailure::None;
    std::string error;  // what went wrong, in English, for logs; empty on success
    // True once the status line and all headers of the final answer arrived; a failure after
    // that happened while the body was on its way.
    bool answered = false;
    int status = 0;                   // 0 until answered
    std::vector<HttpHeader> headers;  // of the final answer, in arrival order

    bool ok() const { return failure == HttpFailure::None; }
    // The first header of that name (compared without regard to letter case).
    std::optional<std::string> Header(std::string_view name) const;
};

// Called once the answer's status and headers arrived (informational 1xx answers are skipped),
// before any byte of its body; returning false stops the transfer (failure Aborted).
using HttpHeadHandler = std::function<bool(const HttpResponse& head)>;
// Called with each piece of the body in order; returning false stops the transfer (Aborted).
using HttpBodySink = std::function<bool(std::string_view piece)>;

// Sends one request and waits for the whole answer. Without a sink the body is read and dropped.
// Never throws; whatever the outcome, the connection is either left reusable or closed.
HttpResponse SendHttpRequest(const HttpRequest& request, const HttpBodySink& sink = nullptr,
                             const HttpHeadHandler& onHead = nullptr);

// The same, with the body collected into `body` (for small answers such as JSON documents).
HttpResponse SendHttpRequest(const HttpRequest& request, std::string& body);

// Closes the connections that the calling thread keeps open for reuse.
void CloseHttpConnections();

}  // namespace lumivale
