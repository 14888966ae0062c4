#pragma once
// Many HTTP(S) requests at once, all driven by the one thread that calls Run: the download
// engine keeps 64 transfers going this way instead of 64 blocking threads. Each transfer keeps
// every promise of HttpTransport.h (verified TLS, no redirect followed, the body as sent, the
// receive time-out as the longest silence); connections are kept and reused between transfers
// of one set, and requests to a server that offers HTTP/2 share its connection.
//
// Start queues a request; its head handler and body sink run inside Run, and its done handler
// runs there exactly once with the outcome SendHttpRequest would have returned. Handlers run on
// the thread that calls Run and must not call Run. A done handler may call Start and Stop; a head
// handler or body sink may not (they stop their own transfer by returning false).
//
// A set belongs to one thread at a time. SendHttpRequest uses the calling thread's own set
// (ThreadTransfers) when it is not running, so single requests and batches of one thread share
// their kept connections; CloseHttpConnections closes them.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "HttpTransport.h"

namespace lumivale {

class HttpTransfers {
  public:
    using DoneHandler = std::function<void(const HttpResponse& response)>;
    using Id = std::uint64_t;

    HttpTransfers();
    // Ends the unfinished transfers without calling their handlers and closes the connections.
    ~HttpTransfers();
    HttpTransfers(const HttpTransfers&) = delete;
    HttpTransfers& operator=(const HttpTransfers&) = delete;

    // Queues one request. A request that cannot even be prepared still ends through `onDone`
    // (failure BadRequest or Setup) during the next Run.
    Id Start(const HttpRequest& request, HttpBodySink sink, HttpHeadHandler onHead,
             DoneHandler onDone);
    // Ends one transfer at once without calling its handlers; its connection is closed unless
    // the transfer had finished.
    void Stop(Id id);
    // Moves every transfer on until at least one has ended (its done handler run) or `wait`
    // passed; returns how many are still running.
    std::size_t Run(std::chrono::milliseconds wait);
    std::size_t Running() const;
    // True while Run is on the stack (a handler is running).
    bool Busy() const;

  private:
    friend void CloseHttpConnections();
    struct State;
    std::unique_ptr<State> state_;
};

// The calling thread's own set; it lives until the thread ends.
HttpTransfers& ThreadTransfers();

}  // namespace lumivale
