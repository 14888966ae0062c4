#pragma once
// Keeps the backend's play-time total for the signed-in account: registers the install's public
// key for the account (with cooldowns and one reconnect loop after a failure), fetches the total
// for the page at sign-in and every five minutes, probes the backend once at start, and uploads
// the length of each game when it ends. Nothing played is lost: a game longer than one upload
// takes goes up in several, and one that could not be sent waits in the PlayTimeQueue until a
// registration succeeds (at the next start or reconnect) or a later poll reaches the backend.
//
// The service owns its threads. They hold the service by shared_ptr and sleep on its condition
// variable, so Stop() ends every wait at once and nothing outlives what it uses.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "CloudClient.h"
#include "PlayTimeQueue.h"

namespace lumivale {

// The waits of the service; tests shorten them.
struct PlayTimeWaits {
    std::chrono::milliseconds tick{1000};             // the poller's step
    int pollTicks = 300;                              // steps between two fetches
    std::chrono::milliseconds reconnectDelay{180000};  // before each reconnect attempt
    int reconnectAttempts = 2;
    std::chrono::milliseconds fetchRetry{500};        // between initial fetch attempts
    int fetchAttempts = 8;
};

// Who is signed in, as the service's threads see it.
struct CloudAccount {
    bool loggedIn = false;
    std::string playerId;    // the LittleSkin account id; empty: nothing runs for this account
    std::string playerName;  // the current role's name, sent along
};

// Cooldown after a failed registration, and after a lock whose retry-after is below 1.
inline constexpr std::int64_t kRegisterFailureCooldownSeconds = 60;
inline constexpr std::int64_t kRegisterLockedFallbackSeconds = 43200;
// The most one upload may carry; a longer game goes up in parts.
inline constexpr std::int64_t kMaxUploadSeconds = 86400;

// The uploads a game's length goes up in: one for up to kMaxUploadSeconds (session and client
// total as given), else parts of kMaxUploadSeconds and the rest, each its own client total.
std::vector<QueuedUpload> SplitSession(const std::string& playerId, std::int64_t sessionSeconds,
                                       std::int64_t clientTotalSeconds);

class PlayTimeService : public std::enable_shared_from_this<PlayTimeService> {
public:
    using EventSink = std::function<void(std::string json)>;
    using LineSink = std::function<void(std::string_view line)>;

    // `cloud` may be null: then nothing ever runs. `postEvent` sends a UI event from any thread.
    // `console` defaults to ConsoleLog. The queue file defaults to kPlayTimeQueueFileName in the
    // credential store's folder.
    static std::shared_ptr<PlayTimeService> Create(std::shared_ptr<CloudClient> cloud, EventSink postEvent,
                                                   PlayTimeWaits waits = {}, LineSink console = nullptr,
                                                   std::filesystem::path queueFile = {});
    ~PlayTimeService();

    // The App calls this whenever sign-in state, account id or role name change.
    void SetAccount(CloudAccount account);
    CloudAccount Account() const;

    bool KeyReady() const;
    // Starts a registration thread for the id unless it is registered, in flight, cooling down,
    // or the key is not ready.
    void EnsureRegistered(const std::string& playerId);
    bool IsRegistered(const std::string& playerId) const;
    // The earliest next registration attempt for the id (seconds since 1970), if one is set.
    std::optional<std::int64_t> CooldownUntil(const std::string& playerId) const;
    // Starts the reconnect loop for the id unless one runs.
    void StartReconnect(const std::string& playerId);
    // Fetches the total for the page once registration allows it (a few attempts).
    void StartInitialFetch();
    // The poller that runs for the program's life and the one-time reachability probe.
    void StartPoller();
    void StartReachabilityProbe();

    // The game ended: uploads the session for the signed-in account (queueing what could not be
    // sent), or logs why not.
    void OnGameExit(std::int64_t startMs, std::int64_t endMs);
    // Starts sending what the queue holds for the player, unless a flush runs or nothing waits.
    void StartQueueFlush(const std::string& playerId);
    PlayTimeQueue& Queue() { return queue_; }

    // The total for the current account (-1 when not available); sends "cloud:playtime:got"
    // when it is 0 or more. On the calling thread.
    std::int64_t FetchAndReport();
    // Uploads given values for the current account; "cloud:playtime:uploaded" with the new total.
    std::int64_t UploadAndReport(std::int64_t sessionSeconds, std::int64_t clientTotalSeconds);

    // Ends the poller and every wait; threads then finish without touching the network again.
    void Stop();

private:
    PlayTimeService(std::shared_ptr<CloudClient> cloud, EventSink postEvent, PlayTimeWaits waits, LineSink console,
                    std::filesystem::path queueFile);

    void RegistrationThread(std::string playerId, std::string playerName);
    void ReconnectThread(std::string playerId);
    void PollerThread();
    void InitialFetchThread();
    void FlushQueueThread(std::string playerId);
    // Sleeps; false when the service was stopped meanwhile.
    bool Wait(std::chrono::milliseconds duration);
    bool Stopped() const;
    void SendTotal(const char* type, std::int64_t total) const;

    std::shared_ptr<CloudClient> cloud_;
    EventSink postEvent_;
    PlayTimeWaits waits_;
    LineSink console_;

    mutable std::mutex accountMutex_;
    CloudAccount account_;

    mutable std::mutex registrationMutex_;
    std::set<std::string> registered_;
    std::set<std::string> inFlight_;
    std::map<std::string, std::int64_t> cooldownUntil_;
    std::atomic<bool> reconnecting_{false};

    PlayTimeQueue queue_;
    std::mutex flushMutex_;  // one flush at a time

    mutable std::mutex stopMutex_;
    std::condition_variable stopSignal_;
    bool stopped_ = false;
};

}  // namespace lumivale
