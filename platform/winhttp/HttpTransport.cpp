// HttpTransport on WinHTTP, synchronous. Each thread keeps one session (WinHTTP pools the
// connections of a session) and a connect handle per host and port.
//
// Certificates: the system's store decides unless the request names its own. Then the unknown-CA
// check of WinHTTP is switched off for that request only, and before any request byte goes out
// (WINHTTP_CALLBACK_STATUS_SENDING_REQUEST) the server's chain is built again with the named
// certificates at hand: its root must be one of them and nothing else may be wrong with it
// (dates included). Host names are always checked by WinHTTP itself.
#include "HttpTransport.h"

#include <windows.h>
#include <wincrypt.h>
#include <winhttp.h>

#include <map>
#include <utility>

#include "Files.h"
#include "Paths.h"
#include "Text.h"

namespace lumivale {

namespace {

using win32::Narrow;
using win32::Wide;
using Bytes = std::vector<unsigned char>;

constexpr DWORD kPiece = 65536;

struct ThreadSession {
    HINTERNET session = nullptr;
    std::map<std::pair<std::wstring, INTERNET_PORT>, HINTERNET> connections;

    ~ThreadSession() { Close(); }

    HINTERNET Connect(const std::wstring& host, INTERNET_PORT port) {
        if (session == nullptr) {
            session = WinHttpOpen(Wide(kHttpUserAgent).c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                  WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
            if (session == nullptr) return nullptr;
        }
        HINTERNET& connection = connections[{host, port}];
        if (connection == nullptr) connection = WinHttpConnect(session, host.c_str(), port, 0);
        return connection;
    }

    void Close() {
        for (auto& [key, connection] : connections) {
            if (connection != nullptr) WinHttpCloseHandle(connection);
        }
        connections.clear();
        if (session != nullptr) WinHttpCloseHandle(session);  // closes the pooled connections
        session = nullptr;
    }
};

// Each thread's session lives in a fiber-local slot whose callback closes it when the thread
// ends. (A thread_local object with a destructor is not safe in mingw's static runtime: the
// destructor may run after the thread's storage was freed.)
void WINAPI DestroySession(void* session) { delete static_cast<ThreadSession*>(session); }

DWORD SessionSlot() {
    static const DWORD slot = FlsAlloc(&DestroySession);
    return slot;
}

ThreadSession* CurrentSession(bool create) {
    const DWORD slot = SessionSlot();
    if (slot == FLS_OUT_OF_INDEXES) return nullptr;
    auto* session = static_cast<ThreadSession*>(FlsGetValue(slot));
    if (session == nullptr && create) {
        session = new ThreadSession();
        FlsSetValue(slot, session);
    }
    return session;
}

// The certificates of a PEM file, DER encoded; empty when it holds none or cannot be read.
std::vector<Bytes> ReadPemCertificates(const std::string& file) {
    std::string text;
    std::vector<Bytes> certificates;
    if (!ReadWholeFile(Utf8Path(file), text)) return certificates;
    constexpr std::string_view kEnd = "-----END CERTIFICATE-----";
    for (std::size_t at = 0; (at = text.find("-----BEGIN CERTIFICATE-----", at)) != std::string::npos;) {
        const std::size_t end = text.find(kEnd, at);
        if (end == std::string::npos) break;
        const std::string block = text.substr(at, end + kEnd.size() - at);
        DWORD size = 0;
        if (CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER, nullptr,
                                 &size, nullptr, nullptr)) {
            Bytes der(size);
            if (CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER,
                                     der.data(), &size, nullptr, nullptr)) {
                der.resize(size);
                certificates.push_back(std::move(der));
            }
        }
        at = end + kEnd.size();
    }
    return certificates;
}

// What the SENDING_REQUEST callback of one request works with.
struct TrustCheck {
    std::vector<Bytes> roots;
    bool refused = false;  // the request handle was closed by the callback
};

bool ChainEndsInOneOf(PCCERT_CONTEXT server, const std::vector<Bytes>& roots) {
    HCERTSTORE extra = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
    if (extra == nullptr) return false;
    for (const Bytes& root : roots) {
        CertAddEncodedCertificateToStore(extra, X509_ASN_ENCODING, root.data(), static_cast<DWORD>(root.size()),
                                         CERT_STORE_ADD_ALWAYS, nullptr);
    }
    if (server->hCertStore != nullptr) {
        CertAddStoreToCollection(extra, server->hCertStore, 0, 0);  // intermediates the server sent
    }
    CERT_CHAIN_PARA parameters{};
    parameters.cbSize = sizeof parameters;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    bool trusted = false;
    if (CertGetCertificateChain(nullptr, server, nullptr, extra, &parameters, 0, nullptr, &chain) && chain != nullptr &&
        chain->cChain > 0 && chain->rgpChain[0]->cElement > 0) {
        const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
        const PCCERT_CONTEXT top = simple->rgpElement[simple->cElement - 1]->pCertContext;
        const DWORD tolerated =
            CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;
        const bool clean = (chain->TrustStatus.dwErrorStatus & ~tolerated) == 0;
        for (const Bytes& root : roots) {
            if (clean && top->cbCertEncoded == root.size() &&
                std::equal(root.begin(), root.end(), top->pbCertEncoded)) {
                trusted = true;
            }
        }
    }
    if (chain != nullptr) CertFreeCertificateChain(chain);
    CertCloseStore(extra, 0);
    return trusted;
}

void CALLBACK OnStatus(HINTERNET request, DWORD_PTR context, DWORD status, LPVOID, DWORD) {
    if (status != WINHTTP_CALLBACK_STATUS_SENDING_REQUEST || context == 0) return;
    auto* check = reinterpret_cast<TrustCheck*>(context);
    PCCERT_CONTEXT server = nullptr;
    DWORD size = sizeof server;
    const bool trusted = WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &server, &size) &&
                         server != nullptr && ChainEndsInOneOf(server, check->roots);
    if (server != nullptr) CertFreeCertificateContext(server);
    if (!trusted) {
        // The send fails with ERROR_WINHTTP_OPERATION_CANCELLED; nothing of the request was sent.
        check->refused = true;
        WinHttpCloseHandle(request);
    }
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
    return text;
}

// "Name: value" lines after the status line, in order; folded lines joined to the one before.
std::vector<HttpHeader> ParseHeaders(const std::string& raw) {
    std::vector<HttpHeader> headers;
    std::size_t start = raw.find('\n');
    while (start != std::string::npos && start + 1 < raw.size()) {
        const std::size_t end = raw.find('\n', start + 1);
        const std::string_view line(raw.data() + start + 1, (end == std::string::npos ? raw.size() : end) - start - 1);
        start = end;
        if (Trim(line).empty()) continue;
        if ((line.front() == ' ' || line.front() == '\t') && !headers.empty()) {
            headers.back().value += ' ';
            headers.back().value += Trim(line);
            continue;
        }
        const std::size_t colon = line.find(':');
        if (colon != std::string_view::npos) {
            headers.push_back({std::string(Trim(line.substr(0, colon))), std::string(Trim(line.substr(colon + 1)))});
        }
    }
    return headers;
}

HttpResponse Failed(HttpResponse response, HttpFailure failure, std::string error) {
    response.failure = failure;
    response.error = std::move(error);
    return response;
}

HttpResponse FailedCall(HttpResponse response, const char* step, DWORD code) {
    // Wine reports the socket's own time-out (WSAETIMEDOUT, 10060) where Windows says 12002.
    const HttpFailure failure = code == ERROR_WINHTTP_TIMEOUT || code == 10060 ? HttpFailure::TimedOut
                                : code == ERROR_WINHTTP_INVALID_URL || code == ERROR_WINHTTP_UNRECOGNIZED_SCHEME
                                    ? HttpFailure::BadRequest
                                    : HttpFailure::Network;
    return Failed(std::move(response), failure, std::string(step) + " failed with WinHTTP error " + std::to_string(code));
}

int Milliseconds(std::chrono::milliseconds value) {
    return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(value.count(), 1, 0x7FFFFFFF));
}

// Closes the request handle unless the trust callback did already.
struct RequestHandle {
    HINTERNET handle = nullptr;
    const TrustCheck* check = nullptr;
    ~RequestHandle() {
        if (handle != nullptr && !(check != nullptr && check->refused)) WinHttpCloseHandle(handle);
    }
};

}  // namespace

HttpResponse SendHttpRequest(const HttpRequest& request, const HttpBodySink& sink, const HttpHeadHandler& onHead) {
    HttpResponse response;
    const std::string lower = [&] {
        std::string text = request.url.substr(0, 8);
        for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        return text;
    }();
    if (!lower.starts_with("http://") && !lower.starts_with("https://")) {
        return Failed(response, HttpFailure::BadRequest, "only http:// and https:// addresses are fetched");
    }
    const std::wstring url = Wide(request.url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    parts.dwSchemeLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts) || parts.dwHostNameLength == 0) {
        return Failed(response, HttpFailure::BadRequest, "the address cannot be read: " + request.url);
    }
    const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
    path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (path.empty()) path = L"/";

    TrustCheck check;
    if (secure && !request.trustedCertificates.empty()) {
        check.roots = ReadPemCertificates(request.trustedCertificates);
        if (check.roots.empty()) {
            return Failed(response, HttpFailure::BadRequest,
                          "no certificate could be read from " + request.trustedCertificates);
        }
    }

    ThreadSession* session = CurrentSession(true);
    HINTERNET connection = session != nullptr ? session->Connect(host, parts.nPort) : nullptr;
    if (connection == nullptr) return FailedCall(response, "opening the session", GetLastError());
    RequestHandle requestHandle;
    requestHandle.handle = WinHttpOpenRequest(
        connection, Wide(request.method).c_str(), path.c_str(), nullptr, WINHTTP_NO_REFERER,
        WINHTTP_DEFAULT_ACCEPT_TYPES,
        (secure ? WINHTTP_FLAG_SECURE : 0) | WINHTTP_FLAG_ESCAPE_DISABLE | WINHTTP_FLAG_ESCAPE_DISABLE_QUERY);
    HINTERNET handle = requestHandle.handle;
    if (handle == nullptr) return FailedCall(response, "opening the request", GetLastError());

    DWORD redirects = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    const int connect = Milliseconds(request.connectTimeout);
    const int receive = Milliseconds(request.receiveTimeout);
    // The wait for the answer's head has a time-out of its own (90 s unless set).
    DWORD headWait = static_cast<DWORD>(receive);
    bool ready = WinHttpSetOption(handle, WINHTTP_OPTION_REDIRECT_POLICY, &redirects, sizeof redirects) &&
                 WinHttpSetTimeouts(handle, connect, connect, receive, receive) &&
                 WinHttpSetOption(handle, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &headWait, sizeof headWait);
    if (!check.roots.empty()) {
        DWORD flags = SECURITY_FLAG_IGNORE_UNKNOWN_CA;
        requestHandle.check = &check;
        ready = ready && WinHttpSetOption(handle, WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof flags) &&
                WinHttpSetStatusCallback(handle, OnStatus, WINHTTP_CALLBACK_FLAG_SEND_REQUEST, 0) !=
                    WINHTTP_INVALID_STATUS_CALLBACK;
    }
    std::wstring headers;
    if (request.userAgent != kHttpUserAgent) headers += L"User-Agent: " + Wide(request.userAgent) + L"\r\n";
    for (const HttpHeader& header : request.headers) {
        if (!IsSendableHeader(header)) {
            return Failed(response, HttpFailure::BadRequest, "a header could smuggle others: " + header.name);
        }
        headers += Wide(header.name) + L": " + Wide(header.value) + L"\r\n";
    }
    if (ready && !headers.empty()) {
        ready = WinHttpAddRequestHeaders(handle, headers.c_str(), static_cast<DWORD>(-1),
                                         WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE);
    }
    if (!ready) return FailedCall(response, "preparing the request", GetLastError());

    const auto size = static_cast<DWORD>(request.body.size());
    void* body = request.body.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<char*>(request.body.data());
    if (!WinHttpSendRequest(handle, WINHTTP_NO_ADDITIONAL_HEADERS, 0, body, size, size,
                            reinterpret_cast<DWORD_PTR>(check.roots.empty() ? nullptr : &check))) {
        const DWORD code = GetLastError();
        if (check.refused) {
            return Failed(response, HttpFailure::Network,
                          "the server's certificate is not signed by " + request.trustedCertificates);
        }
        return FailedCall(response, "sending the request", code);
    }
    if (!WinHttpReceiveResponse(handle, nullptr)) return FailedCall(response, "receiving the answer", GetLastError());

    DWORD status = 0;
    DWORD statusSize = sizeof status;
    if (!WinHttpQueryHeaders(handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                             &status, &statusSize, WINHTTP_NO_HEADER_INDEX)) {
        return FailedCall(response, "reading the status", GetLastError());
    }
    DWORD rawSize = 0;
    WinHttpQueryHeaders(handle, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &rawSize,
                        WINHTTP_NO_HEADER_INDEX);
    std::wstring raw(rawSize / sizeof(wchar_t) + 1, L'\0');
    rawSize = static_cast<DWORD>(raw.size() * sizeof(wchar_t));
    if (WinHttpQueryHeaders(handle, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, raw.data(), &rawSize,
                            WINHTTP_NO_HEADER_INDEX)) {
        raw.resize(rawSize / sizeof(wchar_t));
        response.headers = ParseHeaders(Narrow(raw));
    }
    response.status = static_cast<int>(status);
    response.answered = true;
    bool keepGoing = true;
    if (onHead) {
        try {
            keepGoing = onHead(response);
        } catch (...) {
            keepGoing = false;
        }
    }
    if (!keepGoing) return Failed(response, HttpFailure::Aborted, "stopped by the receiver");

    std::vector<char> buffer(kPiece);
    std::uint64_t received = 0;
    for (;;) {
        DWORD got = 0;
        if (!WinHttpReadData(handle, buffer.data(), kPiece, &got)) {
            return FailedCall(response, "receiving the body", GetLastError());
        }
        if (got == 0) break;
        received += got;
        if (!sink) continue;
        try {
            keepGoing = sink(std::string_view(buffer.data(), got));
        } catch (...) {
            keepGoing = false;
        }
        if (!keepGoing) return Failed(response, HttpFailure::Aborted, "stopped by the receiver");
    }
    // A peer that hangs up early may look like the end of the body: the announced length tells.
    const auto announced = response.Header("Content-Length");
    if (announced && request.method != "HEAD" && status != 204 && status != 304 &&
        std::to_string(received) != *announced) {
        return Failed(response, HttpFailure::Network,
                      "the body ended after " + std::to_string(received) + " of " + *announced + " bytes");
    }
    return response;
}

void CloseHttpConnections() {
    if (ThreadSession* session = CurrentSession(false)) session->Close();
}

}  // namespace lumivale
