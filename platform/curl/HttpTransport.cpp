// HttpTransport and HttpTransfers on libcurl.
//
// A set of transfers is one multi handle (which holds the set's connection cache) and an easy
// handle per running transfer; finished easy handles are reset and kept for the next request, so
// no option of an earlier request leaks into the next one while live connections stay available
// for reuse. The loop is driven here rather than by curl_easy_perform so that the receive
// time-out (longest silence) is measured exactly instead of with curl's one-second low-speed
// granularity. SendHttpRequest is one transfer on the calling thread's own set.
#include "HttpTransport.h"
#include "HttpTransfers.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace lumivale {

namespace {

using Clock = std::chrono::steady_clock;

bool GlobalInit() {
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] { ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    return ready;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' ||
                             text.back() == '\n')) {
        text.remove_suffix(1);
    }
    return text;
}

struct HeaderList {
    curl_slist* list = nullptr;
    HeaderList() = default;
    HeaderList(const HeaderList&) = delete;
    HeaderList& operator=(const HeaderList&) = delete;
    ~HeaderList() { curl_slist_free_all(list); }
    bool Add(const std::string& line) {
        curl_slist* grown = curl_slist_append(list, line.c_str());
        if (grown == nullptr) return false;
        list = grown;
        return true;
    }
};

// One transfer of a set: what its callbacks share, and what it hands back when it ends.
struct Transfer {
    HttpTransfers::Id id = 0;
    CURL* easy = nullptr;  // null when the request never started
    HttpBodySink sink;
    HttpHeadHandler onHead;
    HttpTransfers::DoneHandler onDone;
    HttpResponse response;
    HeaderList headers;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    std::chrono::milliseconds receiveTimeout{1};
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
    HttpResponse& response = transfer.response;
    response.status = transfer.pendingStatus;
    response.headers = std::move(transfer.pendingHeaders);
    transfer.pendingHeaders.clear();
    response.answered = true;
    if (!transfer.onHead) return true;
    try {
        return transfer.onHead(response);
    } catch (...) {
        return false;
    }
}

size_t OnHeaderLine(char* data, size_t size, size_t count, void* user) {
    Transfer& transfer = *static_cast<Transfer*>(user);
    const size_t length = size * count;
    transfer.lastActivity = Clock::now();
    if (transfer.response.answered) return length;  // trailers of a chunked body
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
    if (!transfer.response.answered && !AnnounceHead(transfer)) {
        transfer.stoppedByCaller = true;
        return 0;
    }
    if (!transfer.sink || length == 0) return length;
    bool keepGoing = false;
    try {
        keepGoing = transfer.sink(std::string_view(data, length));
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

bool Configure(CURL* easy, const HttpRequest& request, Transfer& transfer) {
    HeaderList& headers = transfer.headers;
    bool ok = true;
    auto set = [&](CURLoption option, auto value) {
        if (curl_easy_setopt(easy, option, value) != CURLE_OK) ok = false;
    };
    set(CURLOPT_ERRORBUFFER, transfer.errorBuffer);
    set(CURLOPT_PRIVATE, static_cast<void*>(&transfer));
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
    // Where a server offers HTTP/2, wait for its connection and share it rather than open more.
    set(CURLOPT_PIPEWAIT, 1L);
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


// The outcome of a transfer that ended: `code` from curl when `done`, or a silence, or a loop
// failure otherwise.
void Conclude(Transfer& transfer, bool done, CURLcode code, bool silent, CURLMcode multiCode) {
    HttpResponse& response = transfer.response;
    if (transfer.stoppedByCaller) {
        response.failure = HttpFailure::Aborted;
        response.error = "stopped by the receiver";
    } else if (silent) {
        response.failure = HttpFailure::TimedOut;
        response.error =
            "no data received for " + std::to_string(transfer.receiveTimeout.count()) + " ms";
    } else if (!done) {
        response.failure = HttpFailure::Setup;
        response.error = std::string("transfer loop failed: ") + curl_multi_strerror(multiCode);
    } else if (code != CURLE_OK) {
        response.failure = Classify(code);
        response.error =
            transfer.errorBuffer[0] != '\0' ? transfer.errorBuffer : curl_easy_strerror(code);
    } else if (!response.answered) {
        response.failure = HttpFailure::Network;
        response.error = "the answer had no status line";
    }
}

}  // namespace

struct HttpTransfers::State {
    CURLM* multi = nullptr;
    std::unordered_map<Id, std::unique_ptr<Transfer>> running;
    // Ended (or never started) transfers whose done handlers the next Run calls.
    std::vector<std::unique_ptr<Transfer>> ended;
    std::vector<CURL*> spare;  // easy handles of finished transfers, for the next requests
    Id next = 1;
    int depth = 0;

    ~State() { Close(); }

    bool Ready() {
        if (multi != nullptr) return true;
        if (!GlobalInit()) return false;
        multi = curl_multi_init();
        if (multi == nullptr) return false;
        curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS, 64L);
        return true;
    }

    // Takes a transfer out of the loop; a finished easy handle is kept for the next request
    // (removing an unfinished one closes its connection).
    void Detach(Transfer& transfer) {
        if (transfer.easy == nullptr) return;
        curl_multi_remove_handle(multi, transfer.easy);
        spare.push_back(transfer.easy);
        transfer.easy = nullptr;
    }

    void Close() {
        for (auto& [id, transfer] : running) {
            if (transfer->easy != nullptr) {
                curl_multi_remove_handle(multi, transfer->easy);
                curl_easy_cleanup(transfer->easy);
            }
        }
        running.clear();
        ended.clear();
        for (CURL* easy : spare) curl_easy_cleanup(easy);
        spare.clear();
        if (multi != nullptr) curl_multi_cleanup(multi);  // closes the kept connections
        multi = nullptr;
    }
};

HttpTransfers::HttpTransfers() : state_(std::make_unique<State>()) {}
HttpTransfers::~HttpTransfers() = default;

HttpTransfers::Id HttpTransfers::Start(const HttpRequest& request, HttpBodySink sink,
                                       HttpHeadHandler onHead, DoneHandler onDone) {
    State& state = *state_;
    auto transfer = std::make_unique<Transfer>();
    transfer->id = state.next++;
    transfer->sink = std::move(sink);
    transfer->onHead = std::move(onHead);
    transfer->onDone = std::move(onDone);
    transfer->receiveTimeout = std::max(request.receiveTimeout, std::chrono::milliseconds(1));
    const Id id = transfer->id;
    auto fail = [&](HttpFailure failure, const char* text) {
        transfer->response.failure = failure;
        transfer->response.error = text;
        state.ended.push_back(std::move(transfer));
        return id;
    };
    if (!state.Ready()) return fail(HttpFailure::Setup, "the HTTP library could not be initialised");
    CURL* easy = nullptr;
    if (!state.spare.empty()) {
        easy = state.spare.back();
        state.spare.pop_back();
        curl_easy_reset(easy);
    } else {
        easy = curl_easy_init();
    }
    if (easy == nullptr) return fail(HttpFailure::Setup, "the HTTP library could not be initialised");
    if (!Configure(easy, request, *transfer)) {
        state.spare.push_back(easy);
        return fail(HttpFailure::BadRequest, "the request could not be prepared");
    }
    if (curl_multi_add_handle(state.multi, easy) != CURLM_OK) {
        state.spare.push_back(easy);
        return fail(HttpFailure::Setup, "the transfer could not be started");
    }
    transfer->easy = easy;
    state.running.emplace(id, std::move(transfer));
    return id;
}

void HttpTransfers::Stop(Id id) {
    State& state = *state_;
    if (const auto found = state.running.find(id); found != state.running.end()) {
        state.Detach(*found->second);
        state.running.erase(found);
    }
    std::erase_if(state.ended, [id](const auto& transfer) { return transfer->id == id; });
}

std::size_t HttpTransfers::Run(std::chrono::milliseconds wait) {
    State& state = *state_;
    ++state.depth;
    const auto until = Clock::now() + wait;
    CURLMcode multiCode = CURLM_OK;  // a failure of the loop itself ends every transfer
    while (state.ended.empty() && !state.running.empty()) {
        int stillRunning = 0;
        if (const CURLMcode code = curl_multi_perform(state.multi, &stillRunning); code != CURLM_OK)
            multiCode = code;
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(state.multi, &queued)) {
            if (message->msg != CURLMSG_DONE) continue;
            void* data = nullptr;
            curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &data);
            const CURLcode code = message->data.result;
            auto found = state.running.find(static_cast<Transfer*>(data)->id);
            if (found == state.running.end()) continue;
            Conclude(*found->second, true, code, false, CURLM_OK);
            state.Detach(*found->second);
            state.ended.push_back(std::move(found->second));
            state.running.erase(found);
        }
        auto now = Clock::now();
        auto nextCheck = until;
        for (auto it = state.running.begin(); it != state.running.end();) {
            Transfer& transfer = *it->second;
            const bool broken = multiCode != CURLM_OK;
            const auto deadline = transfer.lastActivity + transfer.receiveTimeout;
            if (broken || (transfer.requestSent && now >= deadline)) {
                Conclude(transfer, false, CURLE_OK, !broken, multiCode);
                state.Detach(transfer);
                state.ended.push_back(std::move(it->second));
                it = state.running.erase(it);
                continue;
            }
            if (transfer.requestSent) nextCheck = std::min(nextCheck, deadline);
            ++it;
        }
        if (!state.ended.empty() || now >= until) break;
        // Waits are capped at a second: a transfer whose request goes out meanwhile starts its
        // silence clock without waking the loop.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(nextCheck - now).count();
        const int waitMs = static_cast<int>(std::clamp<long long>(left, 1, 1000));
        if (const CURLMcode code = curl_multi_poll(state.multi, nullptr, 0, waitMs, nullptr);
            code != CURLM_OK) {
            multiCode = code;
        }
    }
    std::vector<std::unique_ptr<Transfer>> ended = std::move(state.ended);
    state.ended.clear();
    for (auto& transfer : ended) {
        if (!transfer->onDone) continue;
        try {
            transfer->onDone(transfer->response);
        } catch (...) {
        }
    }
    --state.depth;
    return state.running.size();
}

std::size_t HttpTransfers::Running() const {
    return state_->running.size() + state_->ended.size();
}

bool HttpTransfers::Busy() const {
    return state_->depth > 0;
}

HttpTransfers& ThreadTransfers() {
    thread_local HttpTransfers transfers;
    return transfers;
}

HttpResponse SendHttpRequest(const HttpRequest& request, const HttpBodySink& sink,
                             const HttpHeadHandler& onHead) {
    // The thread's own set, unless it is busy with other transfers (a handler that sends a
    // request of its own gets a set of its own).
    HttpTransfers* transfers = &ThreadTransfers();
    std::unique_ptr<HttpTransfers> own;
    if (transfers->Busy() || transfers->Running() > 0) {
        own = std::make_unique<HttpTransfers>();
        transfers = own.get();
    }
    HttpResponse response;
    bool done = false;
    transfers->Start(request, sink, onHead, [&](const HttpResponse& outcome) {
        response = outcome;
        done = true;
    });
    while (!done) transfers->Run(std::chrono::milliseconds(1000));
    return response;
}

void CloseHttpConnections() {
    HttpTransfers& transfers = ThreadTransfers();
    if (!transfers.Busy() && transfers.Running() == 0) transfers.state_->Close();
}

}  // namespace lumivale
