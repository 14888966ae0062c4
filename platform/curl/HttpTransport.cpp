// HttpTransport on libcurl.
//
// Each thread owns one multi handle (which holds the thread's connection cache) and one easy
// handle that is reset before every request, so no option of an earlier request leaks into the
// next one while live connections stay available for reuse. The transfer loop is driven here
// rather than by curl_easy_perform so that the receive time-out (longest silence) is measured
// exactly instead of with curl's one-second low-speed granularity.
#include "HttpTransport.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <mutex>

namespace lumivale {

namespace {

using Clock = std::chrono::steady_clock;

bool GlobalInit() {
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] { ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    return ready;
}

// The calling thread's handles; closed when the thread ends.
struct ThreadHandles {
    CURLM* multi = nullptr;
    CURL* easy = nullptr;

    ~ThreadHandles() { Close(); }

    bool Ready() {
        if (multi != nullptr && easy != nullptr) return true;
        if (!GlobalInit()) return false;
        if (multi == nullptr) {
            multi = curl_multi_init();
            if (multi != nullptr) curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS, 8L);
        }
        if (easy == nullptr) easy = curl_easy_init();
        return multi != nullptr && easy != nullptr;
    }

    void Close() {
        if (easy != nullptr) curl_easy_cleanup(easy);
        if (multi != nullptr) curl_multi_cleanup(multi);  // closes the cached connections
        easy = nullptr;
        multi = nullptr;
    }
};

thread_local ThreadHandles threadHandles;

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' ||
                             text.back() == '\n')) {
        text.remove_suffix(1);
    }
    return text;
}

// What the callbacks of one transfer share.
struct Transfer {
    const HttpBodySink* sink = nullptr;
    const HttpHeadHandler* onHead = nullptr;
    HttpResponse* response = nullptr;
    int pendingStatus = 0;
    std::vector<HttpHeader> pendingHeaders;
    bool stoppedByCaller = false;
    bool requestSent = false;
    Clock::time_point lastActivity;
};

// Status line "HTTP/1.1 200 OK" or "HTTP/2 200".
int ParseStatusLine(std::string_view line) {
    const auto space = line.find(' ');
    if (space == std::string_view::npos) return 0;
    line.remove_prefix(space + 1);
    int status = 0;
    std::from_chars(line.data(), line.data() + std::min<std::size_t>(line.size(), 3), status);
    return status;
}

bool AnnounceHead(Transfer& transfer) {
    HttpResponse& response = *transfer.response;
    response.status = transfer.pendingStatus;
    response.headers = std::move(transfer.pendingHeaders);
    transfer.pendingHeaders.clear();
    response.answered = true;
    if (transfer.onHead == nullptr || !*transfer.onHead) return true;
    try {
        return (*transfer.onHead)(response);
    } catch (...) {
        return false;
    }
}

size_t OnHeaderLine(char* data, size_t size, size_t count, void* user) {
    Transfer& transfer = *static_cast<Transfer*>(user);
    const size_t length = size * count;
    transfer.lastActivity = Clock::now();
    if (transfer.response->answered) return length;  // trailers of a chunked body
    std::string_view line(data, length);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);

    if (line.starts_with("HTTP/")) {  // a new answer begins (after 1xx ones)
        transfer.pendingStatus = ParseStatusLine(line);
        transfer.pendingHeaders.clear();
        return length;
    }
    if (line.empty()) {
        if (transfer.pendingStatus >= 100 && transfer.pendingStatus < 200) {
            transfer.pendingStatus = 0;  // informational; the real answer follows
            transfer.pendingHeaders.clear();
            return length;
        }
        if (!AnnounceHead(transfer)) {
            transfer.stoppedByCaller = true;
            return 0;
        }
        return length;
    }
    if ((line.front() == ' ' || line.front() == '\t') && !transfer.pendingHeaders.empty()) {
        transfer.pendingHeaders.back().value += ' ';  // folded continuation line
        transfer.pendingHeaders.back().value += Trim(line);
        return length;
    }
    const auto colon = line.find(':');
    if (colon != std::string_view::npos) {
        transfer.pendingHeaders.push_back(
            {std::string(Trim(line.substr(0, colon))), std::string(Trim(line.substr(colon + 1)))});
    }
    return length;
}

size_t OnBodyPiece(char* data, size_t size, size_t count, void* user) {
    Transfer& transfer = *static_cast<Transfer*>(user);
    const size_t length = size * count;
    transfer.lastActivity = Clock::now();
    if (!transfer.response->answered && !AnnounceHead(transfer)) {
        transfer.stoppedByCaller = true;
        return 0;
    }
    if (transfer.sink == nullptr || !*transfer.sink || length == 0) return length;
    bool keepGoing = false;
    try {
        keepGoing = (*transfer.sink)(std::string_view(data, length));
    } catch (...) {
        keepGoing = false;
    }
    if (!keepGoing) {
        transfer.stoppedByCaller = true;
        return 0;
    }
    return length;
}

// Called once the connection stands (new or reused) and the request is about to go out: from
// here on the receive time-out applies.
int OnRequestReady(void* user, char*, char*, int, int) {
    Transfer& transfer = *static_cast<Transfer*>(user);
    transfer.requestSent = true;
    transfer.lastActivity = Clock::now();
    return CURL_PREREQFUNC_OK;
}

HttpFailure Classify(CURLcode code) {
    switch (code) {
        case CURLE_OK:
            return HttpFailure::None;
        case CURLE_OPERATION_TIMEDOUT:
            return HttpFailure::TimedOut;
        case CURLE_URL_MALFORMAT:
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_BAD_FUNCTION_ARGUMENT:
        case CURLE_NOT_BUILT_IN:
            return HttpFailure::BadRequest;
        case CURLE_FAILED_INIT:
        case CURLE_OUT_OF_MEMORY:
            return HttpFailure::Setup;
        default:
            return HttpFailure::Network;
    }
}

long Milliseconds(std::chrono::milliseconds value) {
    return static_cast<long>(std::max<std::chrono::milliseconds::rep>(value.count(), 1));
}

struct HeaderList {
    curl_slist* list = nullptr;
    ~HeaderList() { curl_slist_free_all(list); }
    bool Add(const std::string& line) {
        curl_slist* grown = curl_slist_append(list, line.c_str());
        if (grown == nullptr) return false;
        list = grown;
        return true;
    }
};

bool Configure(CURL* easy, const HttpRequest& request, Transfer& transfer, HeaderList& headers,
               char* errorBuffer) {
    bool ok = true;
    auto set = [&](CURLoption option, auto value) {
        if (curl_easy_setopt(easy, option, value) != CURLE_OK) ok = false;
    };
    set(CURLOPT_ERRORBUFFER, errorBuffer);
    set(CURLOPT_URL, request.url.c_str());
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_PATH_AS_IS, 1L);
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_FOLLOWLOCATION, 0L);
    set(CURLOPT_SSL_VERIFYPEER, 1L);
    set(CURLOPT_SSL_VERIFYHOST, 2L);
    if (!request.trustedCertificates.empty())
        set(CURLOPT_CAINFO, request.trustedCertificates.c_str());
    set(CURLOPT_USERAGENT, request.userAgent.c_str());
    set(CURLOPT_CONNECTTIMEOUT_MS, Milliseconds(request.connectTimeout));
    set(CURLOPT_BUFFERSIZE, 65536L);
    set(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    set(CURLOPT_HEADERFUNCTION, &OnHeaderLine);
    set(CURLOPT_HEADERDATA, &transfer);
    set(CURLOPT_WRITEFUNCTION, &OnBodyPiece);
    set(CURLOPT_WRITEDATA, &transfer);
    set(CURLOPT_PREREQFUNCTION, &OnRequestReady);
    set(CURLOPT_PREREQDATA, &transfer);

    const bool withBody = request.method == "POST" || !request.body.empty();
    if (request.method == "HEAD" && !withBody) {
        set(CURLOPT_NOBODY, 1L);
    } else if (request.method == "GET" && !withBody) {
        set(CURLOPT_HTTPGET, 1L);
    } else if (request.method != "POST") {
        set(CURLOPT_CUSTOMREQUEST, request.method.c_str());
    }
    if (withBody) {
        set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
        set(CURLOPT_POSTFIELDS, request.body.data());
        ok = headers.Add("Expect:") && ok;  // no 100-continue round trip
    }
    for (const HttpHeader& header : request.headers) {
        if (!IsSendableHeader(header)) return false;
        // curl drops "Name: " with nothing after it; "Name;" sends the header with an empty value.
        ok = headers.Add(header.value.empty() ? header.name + ";" : header.name + ": " + header.value) && ok;
    }
    if (headers.list != nullptr) set(CURLOPT_HTTPHEADER, headers.list);
    return ok;
}

}  // namespace

HttpResponse SendHttpRequest(const HttpRequest& request, const HttpBodySink& sink,
                             const HttpHeadHandler& onHead) {
    HttpResponse response;
    ThreadHandles& handles = threadHandles;
    if (!handles.Ready()) {
        response.failure = HttpFailure::Setup;
        response.error = "the HTTP library could not be initialised";
        return response;
    }
    CURL* easy = handles.easy;
    CURLM* multi = handles.multi;
    curl_easy_reset(easy);  // options only; live connections stay in the multi handle

    Transfer transfer;
    transfer.sink = &sink;
    transfer.onHead = &onHead;
    transfer.response = &response;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    HeaderList headers;
    if (!Configure(easy, request, transfer, headers, errorBuffer)) {
        response.failure = HttpFailure::BadRequest;
        response.error = "the request could not be prepared";
        return response;
    }
    if (curl_multi_add_handle(multi, easy) != CURLM_OK) {
        response.failure = HttpFailure::Setup;
        response.error = "the transfer could not be started";
        return response;
    }

    const auto receiveTimeout = std::max(request.receiveTimeout, std::chrono::milliseconds(1));
    bool silent = false;
    CURLMcode multiCode = CURLM_OK;
    for (;;) {
        int running = 0;
        multiCode = curl_multi_perform(multi, &running);
        if (multiCode != CURLM_OK || running == 0) break;
        int waitMs = 1000;
        if (transfer.requestSent) {
            const auto now = Clock::now();
            const auto deadline = transfer.lastActivity + receiveTimeout;
            if (now >= deadline) {
                silent = true;
                break;
            }
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
            waitMs = static_cast<int>(std::min<long long>(waitMs, left));
        }
        multiCode = curl_multi_poll(multi, nullptr, 0, waitMs, nullptr);
        if (multiCode != CURLM_OK) break;
    }

    CURLcode code = CURLE_OK;
    bool done = false;
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
            code = message->data.result;
            done = true;
        }
    }
    // Removing an unfinished transfer closes its connection; a finished one goes back to the cache.
    curl_multi_remove_handle(multi, easy);

    if (transfer.stoppedByCaller) {
        response.failure = HttpFailure::Aborted;
        response.error = "stopped by the receiver";
    } else if (silent) {
        response.failure = HttpFailure::TimedOut;
        response.error = "no data received for " + std::to_string(receiveTimeout.count()) + " ms";
    } else if (!done) {
        response.failure = HttpFailure::Setup;
        response.error = std::string("transfer loop failed: ") + curl_multi_strerror(multiCode);
    } else if (code != CURLE_OK) {
        response.failure = Classify(code);
        response.error = errorBuffer[0] != '\0' ? errorBuffer : curl_easy_strerror(code);
    } else if (!response.answered) {
        response.failure = HttpFailure::Network;
        response.error = "the answer had no status line";
    }
    return response;
}

void CloseHttpConnections() {
    threadHandles.Close();
}

}  // namespace lumivale
