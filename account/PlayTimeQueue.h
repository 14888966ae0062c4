#pragma once
// Play time that reached no backend yet: each finished game that could not be sent (offline,
// backend down, key not registered) waits in a small JSON file beside the credential store,
// readable by the user alone, until the launcher sends it at its next start or reconnect.
//
// {"uploads":[{"player_id":"…","session_seconds":N,"client_total_seconds":M}, …]}
//
// The file is rewritten whole through a temporary file on every change. A file that cannot be read
// is kept aside as "<name>.damaged" before it is replaced, so nothing in it is lost.
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace lumivale {

inline constexpr const char* kPlayTimeQueueFileName = "playtime-queue.json";

struct QueuedUpload {
    std::string playerId;
    std::int64_t sessionSeconds = 0;
    std::int64_t clientTotalSeconds = 0;
};

class PlayTimeQueue {
public:
    explicit PlayTimeQueue(std::filesystem::path file) : file_(std::move(file)) {}

    const std::filesystem::path& File() const { return file_; }
    // False when the file could not be written (the caller says so: the upload is then lost).
    bool Append(const QueuedUpload& upload);
    // The oldest upload waiting for the player.
    std::optional<QueuedUpload> First(const std::string& playerId);
    // Drops the oldest upload waiting for the player; false when the file could not be written.
    bool RemoveFirst(const std::string& playerId);
    std::vector<QueuedUpload> All();

private:
    // Nothing when the file is there but cannot be read or its damaged copy not be kept.
    std::optional<std::vector<QueuedUpload>> Load();
    bool Save(const std::vector<QueuedUpload>& uploads);

    std::filesystem::path file_;
    std::mutex mutex_;
};

}  // namespace lumivale
