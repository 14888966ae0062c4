// A set of transfers over WinHTTP's blocking requests: each runs on a worker thread of its own (at
// most kParallel at once), and the set's handlers are serialised by one lock, so the caller sees
// what a single thread would: head handlers, body sinks and done handlers never overlap, and done
// handlers run on the thread that calls Run. (An asynchronous WinHTTP set would save the threads;
// this keeps every promise with the blocking requests that are tested here.)
#include "HttpTransfers.h"

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace lumivale {

namespace {

constexpr std::size_t kParallel = 16;

struct Transfer {
    HttpTransfers::Id id = 0;
    HttpRequest request;
    HttpBodySink sink;
    HttpHeadHandler onHead;
    HttpTransfers::DoneHandler onDone;
    std::atomic<bool> stopped{false};
    HttpResponse response;
};

// What the workers share with the set; it outlives the set while a stopped worker still runs.
struct Shared {
    std::mutex handlers;  // held while any handler of the set runs
    std::mutex mutex;     // guards the lists below
    std::condition_variable changed;
    std::deque<std::shared_ptr<Transfer>> waiting;
    std::vector<std::shared_ptr<Transfer>> active;
    std::deque<std::shared_ptr<Transfer>> finished;
};

void RunTransfer(std::shared_ptr<Shared> shared, std::shared_ptr<Transfer> transfer) {
    const auto guarded = [&](const auto& call) {
        if (transfer->stopped) return false;
        std::lock_guard lock(shared->handlers);
        return !transfer->stopped && call();
    };
    const HttpBodySink sink = [&](std::string_view piece) {
        return guarded([&] { return !transfer->sink || transfer->sink(piece); });
    };
    const HttpHeadHandler onHead = [&](const HttpResponse& head) {
        return guarded([&] { return !transfer->onHead || transfer->onHead(head); });
    };
    transfer->response = SendHttpRequest(transfer->request, sink, onHead);
    std::lock_guard lock(shared->mutex);
    std::erase(shared->active, transfer);
    if (!transfer->stopped) shared->finished.push_back(transfer);
    shared->changed.notify_all();
}

}  // namespace

struct HttpTransfers::State {
    std::shared_ptr<Shared> shared = std::make_shared<Shared>();
    Id next = 1;
    int depth = 0;
};

HttpTransfers::HttpTransfers() : state_(std::make_unique<State>()) {}

HttpTransfers::~HttpTransfers() {
    std::lock_guard lock(state_->shared->mutex);
    for (const auto& transfer : state_->shared->active) transfer->stopped = true;
    state_->shared->waiting.clear();
    state_->shared->finished.clear();
}

HttpTransfers::Id HttpTransfers::Start(const HttpRequest& request, HttpBodySink sink, HttpHeadHandler onHead,
                                       DoneHandler onDone) {
    auto transfer = std::make_shared<Transfer>();
    transfer->id = state_->next++;
    transfer->request = request;
    transfer->sink = std::move(sink);
    transfer->onHead = std::move(onHead);
    transfer->onDone = std::move(onDone);
    std::lock_guard lock(state_->shared->mutex);
    state_->shared->waiting.push_back(transfer);
    return transfer->id;
}

void HttpTransfers::Stop(Id id) {
    Shared& shared = *state_->shared;
    std::lock_guard lock(shared.mutex);
    for (auto* list : {&shared.waiting, &shared.finished}) {
        std::erase_if(*list, [id](const auto& transfer) { return transfer->id == id; });
    }
    for (const auto& transfer : shared.active) {
        if (transfer->id == id) transfer->stopped = true;  // its worker ends at the next piece
    }
    std::erase_if(shared.active, [id](const auto& transfer) { return transfer->id == id; });
}

std::size_t HttpTransfers::Run(std::chrono::milliseconds wait) {
    const std::shared_ptr<Shared> shared = state_->shared;
    std::deque<std::shared_ptr<Transfer>> ended;
    ++state_->depth;
    {
        std::unique_lock lock(shared->mutex);
        while (!shared->waiting.empty() && shared->active.size() < kParallel) {
            auto transfer = std::move(shared->waiting.front());
            shared->waiting.pop_front();
            shared->active.push_back(transfer);
            std::thread(RunTransfer, shared, std::move(transfer)).detach();
        }
        shared->changed.wait_for(lock, wait, [&] { return !shared->finished.empty() || shared->active.empty(); });
        ended.swap(shared->finished);
    }
    for (const auto& transfer : ended) {
        std::lock_guard lock(shared->handlers);
        if (transfer->onDone) transfer->onDone(transfer->response);
    }
    --state_->depth;
    return Running();
}

std::size_t HttpTransfers::Running() const {
    std::lock_guard lock(state_->shared->mutex);
    return state_->shared->waiting.size() + state_->shared->active.size() + state_->shared->finished.size();
}

bool HttpTransfers::Busy() const { return state_->depth > 0; }

namespace {

// Each thread's set lives in a fiber-local slot freed when the thread ends (a thread_local object
// with a destructor is not safe in mingw's static runtime).
void WINAPI DestroyTransfers(void* transfers) { delete static_cast<HttpTransfers*>(transfers); }

}  // namespace

HttpTransfers& ThreadTransfers() {
    static const DWORD slot = FlsAlloc(&DestroyTransfers);
    auto* transfers = static_cast<HttpTransfers*>(FlsGetValue(slot));
    if (transfers == nullptr) {
        transfers = new HttpTransfers();
        FlsSetValue(slot, transfers);
    }
    return *transfers;
}

}  // namespace lumivale
