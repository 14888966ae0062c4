#include "PlayTimeService.h"

#include <thread>

#include "BackendEndpoints.h"
#include "Log.h"
#include "Paths.h"

namespace lumivale {

namespace {

std::int64_t NowSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

std::vector<QueuedUpload> SplitSession(const std::string& playerId, std::int64_t sessionSeconds,
                                       std::int64_t clientTotalSeconds) {
    if (sessionSeconds <= kMaxUploadSeconds) return {{playerId, sessionSeconds, clientTotalSeconds}};
    std::vector<QueuedUpload> parts;
    for (std::int64_t left = sessionSeconds; left > 0; left -= kMaxUploadSeconds) {
        const std::int64_t part = left < kMaxUploadSeconds ? left : kMaxUploadSeconds;
        parts.push_back({playerId, part, part});
    }
    return parts;
}

std::shared_ptr<PlayTimeService> PlayTimeService::Create(std::shared_ptr<CloudClient> cloud, EventSink postEvent,
                                                         PlayTimeWaits waits, LineSink console,
                                                         std::filesystem::path queueFile) {
    if (queueFile.empty()) queueFile = UserDataFolder() / kPlayTimeQueueFileName;
    return std::shared_ptr<PlayTimeService>(
        new PlayTimeService(std::move(cloud), std::move(postEvent), waits, std::move(console), std::move(queueFile)));
}

PlayTimeService::PlayTimeService(std::shared_ptr<CloudClient> cloud, EventSink postEvent, PlayTimeWaits waits,
                                 LineSink console, std::filesystem::path queueFile)
    : cloud_(std::move(cloud)),
      postEvent_(std::move(postEvent)),
      waits_(waits),
      console_(console ? std::move(console) : LineSink([](std::string_view line) { ConsoleLog(line); })),
      queue_(std::move(queueFile)) {}

PlayTimeService::~PlayTimeService() = default;

void PlayTimeService::SetAccount(CloudAccount account) {
    std::lock_guard lock(accountMutex_);
    account_ = std::move(account);
}

CloudAccount PlayTimeService::Account() const {
    std::lock_guard lock(accountMutex_);
    return account_;
}

bool PlayTimeService::KeyReady() const { return cloud_ && cloud_->Keys().IsReady(); }

void PlayTimeService::EnsureRegistered(const std::string& playerId) {
    const CloudAccount account = Account();
    DiagLog("REG", "EnsureRegistered 进入 pid=" + playerId.substr(0, 12) +
                       " loggedIn=" + (account.loggedIn ? "1" : "0") + " keyReady=" + (KeyReady() ? "1" : "0"));
    if (!cloud_ || playerId.empty()) {
        DiagLog("REG", "退出：cloud 空 或 pid 空");
        return;
    }
    {
        std::lock_guard lock(registrationMutex_);
        if (registered_.contains(playerId) || inFlight_.contains(playerId)) return;
        const auto cooldown = cooldownUntil_.find(playerId);
        if (cooldown != cooldownUntil_.end() && cooldown->second > NowSeconds()) return;
        inFlight_.insert(playerId);
    }
    if (!KeyReady()) {
        DiagLog("REG", "退出：密钥未就绪（KeyReady=false），本次不发注册请求");
        std::lock_guard lock(registrationMutex_);
        inFlight_.erase(playerId);
        return;
    }
    DiagLog("REG", "密钥就绪，将在线程中调用 RegisterPublicKey");
    std::thread(&PlayTimeService::RegistrationThread, shared_from_this(), playerId, account.playerName).detach();
}

void PlayTimeService::RegistrationThread(std::string playerId, std::string playerName) {
    std::int64_t retryAfter = kDefaultRegisterRetrySeconds;
    const RegisterResult result = RegisterPublicKey(*cloud_, playerId, playerName, retryAfter);
    std::lock_guard lock(registrationMutex_);
    inFlight_.erase(playerId);
    switch (result) {
        case RegisterResult::Registered:
            registered_.insert(playerId);
            reconnecting_ = false;
            StartQueueFlush(playerId);
            break;
        case RegisterResult::Locked:
            if (retryAfter < 1) retryAfter = kRegisterLockedFallbackSeconds;
            cooldownUntil_[playerId] = NowSeconds() + retryAfter;
            console_("公钥重注册被限流（12h 冷却），" + std::to_string(retryAfter) + " 秒后重试：" + playerId);
            break;
        case RegisterResult::Failed:
            StartReconnect(playerId);
            cooldownUntil_[playerId] = NowSeconds() + kRegisterFailureCooldownSeconds;
            console_("公钥注册失败（连接服务端失败，进入重连）：" + playerId);
            break;
    }
}

bool PlayTimeService::IsRegistered(const std::string& playerId) const {
    std::lock_guard lock(registrationMutex_);
    return registered_.contains(playerId);
}

std::optional<std::int64_t> PlayTimeService::CooldownUntil(const std::string& playerId) const {
    std::lock_guard lock(registrationMutex_);
    const auto found = cooldownUntil_.find(playerId);
    if (found == cooldownUntil_.end()) return std::nullopt;
    return found->second;
}

void PlayTimeService::StartReconnect(const std::string& playerId) {
    if (reconnecting_.exchange(true)) return;
    std::thread(&PlayTimeService::ReconnectThread, shared_from_this(), playerId).detach();
    const auto delay = std::chrono::duration_cast<std::chrono::seconds>(waits_.reconnectDelay).count();
    console_("连接服务端失败，将每 " + std::to_string(delay) + " 秒重连一次，最多 " +
             std::to_string(waits_.reconnectAttempts) + " 次");
}

void PlayTimeService::ReconnectThread(std::string playerId) {
    for (int attempt = 0; attempt < waits_.reconnectAttempts; ++attempt) {
        if (!Wait(waits_.reconnectDelay)) break;
        if (!cloud_ || playerId.empty() || !Account().loggedIn) break;
        std::int64_t retryAfter = kDefaultRegisterRetrySeconds;  // a lock counts as a failure here
        if (RegisterPublicKey(*cloud_, playerId, Account().playerName, retryAfter) != RegisterResult::Registered) {
            continue;
        }
        {
            std::lock_guard lock(registrationMutex_);
            registered_.insert(playerId);
            inFlight_.erase(playerId);
            cooldownUntil_.erase(playerId);
        }
        reconnecting_ = false;
        console_("重连服务端成功（账号 " + playerId + "）");
        StartQueueFlush(playerId);
        const CloudAccount account = Account();
        if (IsRegistered(account.playerId)) {
            const std::int64_t total = GetPlaytime(*cloud_, account.playerId, account.playerName);
            SendTotal("cloud:playtime:got", total);
        }
        return;
    }
    {
        std::lock_guard lock(registrationMutex_);
        inFlight_.erase(playerId);
    }
    reconnecting_ = false;
    console_("重连服务端失败（已重连 " + std::to_string(waits_.reconnectAttempts) + " 次仍连不上），停止重连");
}

void PlayTimeService::StartInitialFetch() {
    std::thread(&PlayTimeService::InitialFetchThread, shared_from_this()).detach();
}

void PlayTimeService::InitialFetchThread() {
    for (int attempt = 0; attempt < waits_.fetchAttempts; ++attempt) {
        const CloudAccount account = Account();
        if (!cloud_ || !account.loggedIn || Stopped()) return;
        EnsureRegistered(account.playerId);
        if (IsRegistered(account.playerId)) {
            const std::int64_t total = GetPlaytime(*cloud_, account.playerId, account.playerName);
            if (total >= 0) {
                SendTotal("cloud:playtime:got", total);
                return;
            }
        }
        if (!Wait(waits_.fetchRetry)) return;
    }
}

void PlayTimeService::StartPoller() { std::thread(&PlayTimeService::PollerThread, shared_from_this()).detach(); }

void PlayTimeService::PollerThread() {
    int ticks = 0;
    auto next = std::chrono::steady_clock::now();
    while (true) {
        next += waits_.tick;
        {
            std::unique_lock lock(stopMutex_);
            if (stopSignal_.wait_until(lock, next, [this] { return stopped_; })) return;
        }
        const CloudAccount account = Account();
        if (!account.loggedIn || !KeyReady() || !IsRegistered(account.playerId)) {
            ticks = 0;
            continue;
        }
        if (++ticks < waits_.pollTicks) continue;
        ticks = 0;
        const std::int64_t total = GetPlaytime(*cloud_, account.playerId, account.playerName);
        SendTotal("cloud:playtime:got", total);
        if (total >= 0) StartQueueFlush(account.playerId);  // the backend is back: send what waited
    }
}

void PlayTimeService::StartReachabilityProbe() {
    if (!cloud_) return;
    std::thread([self = shared_from_this()] {
        const bool reachable = Ping(*self->cloud_);
        if (self->Stopped()) return;
        self->console_(std::string("服务端连通性探测：") + (reachable ? "成功" : "失败/不可达"));
    }).detach();
}

void PlayTimeService::OnGameExit(std::int64_t startMs, std::int64_t endMs) {
    const std::int64_t elapsed = (endMs - startMs) / 1000;  // truncated toward zero
    const std::int64_t session = elapsed < 0 ? 0 : elapsed;
    const CloudAccount account = Account();
    const bool keyReady = KeyReady();
    const std::string skipped = std::string("游戏退出，跳过上传：密钥就绪=") + (keyReady ? "是" : "否") +
                                " 已登录=" + (account.loggedIn ? "是" : "否") + " 账号ID=" + account.playerId;
    if (!cloud_ || !account.loggedIn || account.playerId.empty()) {
        console_(skipped);
        return;
    }
    // Parts after a failed one are not tried: they wait in the queue, in order.
    std::int64_t total = -1;
    std::int64_t queued = 0;
    bool failed = !keyReady;
    for (const QueuedUpload& part : SplitSession(account.playerId, session, elapsed)) {
        if (!failed) {
            total = UploadPlaytime(*cloud_, account.playerId, part.sessionSeconds, part.clientTotalSeconds,
                                   account.playerName);
            failed = total < 0;
            if (!failed) continue;
        }
        if (part.sessionSeconds <= 0) continue;  // nothing to keep
        if (queue_.Append(part)) {
            queued += part.sessionSeconds;
        } else {
            console_("待上传时长无法写入 " + PathUtf8(queue_.File()) + "，" + std::to_string(part.sessionSeconds) +
                     " 秒未能保存");
        }
    }
    if (keyReady) {
        console_("游戏退出，上传时长：账号=" + account.playerId + " 本局=" + std::to_string(elapsed) + "秒 增量=" +
                 std::to_string(session) + "秒 结果=" +
                 (!failed ? "成功(服务端累计=" + std::to_string(total) + ")" : "失败(服务端未注册或不可达)"));
    } else {
        console_(skipped);
    }
    if (queued > 0) {
        console_("本局未上传的 " + std::to_string(queued) + " 秒已存入待上传队列，下次启动或重连时补传");
    }
}

void PlayTimeService::StartQueueFlush(const std::string& playerId) {
    if (!cloud_ || playerId.empty()) return;
    std::thread(&PlayTimeService::FlushQueueThread, shared_from_this(), playerId).detach();
}

void PlayTimeService::FlushQueueThread(std::string playerId) {
    std::unique_lock flushing(flushMutex_, std::try_to_lock);
    if (!flushing) return;
    std::int64_t sent = 0;
    std::int64_t total = -1;
    while (!Stopped() && KeyReady()) {
        const auto next = queue_.First(playerId);
        if (!next) break;
        const std::int64_t after =
            UploadPlaytime(*cloud_, playerId, next->sessionSeconds, next->clientTotalSeconds, Account().playerName);
        if (after < 0) break;
        total = after;
        sent += next->sessionSeconds;
        if (!queue_.RemoveFirst(playerId)) {
            // Sending it again would count it twice.
            console_("补传的时长无法从 " + PathUtf8(queue_.File()) + " 中移除，停止补传");
            break;
        }
    }
    if (total < 0) return;
    console_("已补传待上传队列中的游戏时长：账号=" + playerId + " 补传=" + std::to_string(sent) + "秒 服务端累计=" +
             std::to_string(total));
    if (Account().playerId == playerId) SendTotal("cloud:playtime:got", total);
}

std::int64_t PlayTimeService::FetchAndReport() {
    const CloudAccount account = Account();
    if (!cloud_ || account.playerId.empty()) return -1;
    const std::int64_t total = GetPlaytime(*cloud_, account.playerId, account.playerName);
    SendTotal("cloud:playtime:got", total);
    return total;
}

std::int64_t PlayTimeService::UploadAndReport(std::int64_t sessionSeconds, std::int64_t clientTotalSeconds) {
    const CloudAccount account = Account();
    if (!cloud_ || account.playerId.empty()) return -1;
    const std::int64_t total =
        UploadPlaytime(*cloud_, account.playerId, sessionSeconds, clientTotalSeconds, account.playerName);
    SendTotal("cloud:playtime:uploaded", total);
    return total;
}

void PlayTimeService::Stop() {
    {
        std::lock_guard lock(stopMutex_);
        stopped_ = true;
    }
    stopSignal_.notify_all();
}

bool PlayTimeService::Wait(std::chrono::milliseconds duration) {
    const auto until = std::chrono::steady_clock::now() + duration;
    std::unique_lock lock(stopMutex_);
    return !stopSignal_.wait_until(lock, until, [this] { return stopped_; });
}

bool PlayTimeService::Stopped() const {
    std::lock_guard lock(stopMutex_);
    return stopped_;
}

void PlayTimeService::SendTotal(const char* type, std::int64_t total) const {
    if (total < 0 || !postEvent_) return;
    postEvent_(std::string(R"({"type":")") + type + R"(","total_seconds":)" + std::to_string(total) + "}");
}

}  // namespace lumivale
