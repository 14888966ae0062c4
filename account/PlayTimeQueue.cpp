#include "PlayTimeQueue.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "Files.h"
#include "JsonDocument.h"
#include "Log.h"
#include "Paths.h"

namespace lumivale {

namespace {

bool ReadUpload(const nlohmann::json& item, QueuedUpload& out) {
    if (!item.is_object()) return false;
    const auto player = item.find("player_id");
    const auto session = item.find("session_seconds");
    const auto total = item.find("client_total_seconds");
    if (player == item.end() || !player->is_string() || player->get<std::string>().empty() ||
        session == item.end() || !session->is_number_integer() || total == item.end() ||
        !total->is_number_integer()) {
        return false;
    }
    out = {player->get<std::string>(), session->get<std::int64_t>(), total->get<std::int64_t>()};
    return true;
}

}  // namespace

std::optional<std::vector<QueuedUpload>> PlayTimeQueue::Load() {
    std::string text;
    if (!ReadWholeFile(file_, text)) {
        if (StatFile(file_).exists) return std::nullopt;  // there but unreadable: never overwritten
        return std::vector<QueuedUpload>();
    }
    const auto root = ParseJsonDocument(text);
    const auto items = root.is_object() ? root.find("uploads") : root.end();
    bool whole = items != root.end() && items->is_array();
    std::vector<QueuedUpload> uploads;
    if (whole) {
        for (const auto& item : *items) {
            QueuedUpload upload;
            if (ReadUpload(item, upload)) {
                uploads.push_back(std::move(upload));
            } else {
                whole = false;
            }
        }
    }
    if (!whole) {
        // What cannot be read is kept aside before the next write replaces the file.
        std::filesystem::path aside = file_;
        aside += ".damaged";
        std::error_code error;
        // Through the platform's copy: mingw's copy_file will not replace an older copy aside.
        if (!CopyFileReplacing(file_, aside)) error = std::make_error_code(std::errc::io_error);
        if (!error) std::filesystem::permissions(aside, std::filesystem::perms::owner_read |
                                                            std::filesystem::perms::owner_write, error);
        ConsoleLog("待上传时长文件无法完整读取，已备份为 " + PathUtf8(aside));
        if (error || !Save(uploads)) return std::nullopt;
    }
    return uploads;
}

bool PlayTimeQueue::Save(const std::vector<QueuedUpload>& uploads) {
    nlohmann::json items = nlohmann::json::array();
    for (const QueuedUpload& upload : uploads) {
        items.push_back({{"player_id", upload.playerId},
                         {"session_seconds", upload.sessionSeconds},
                         {"client_total_seconds", upload.clientTotalSeconds}});
    }
    MakeOwnerOnlyFolder(file_.parent_path());
    return WriteFileAtomically(file_, nlohmann::json{{"uploads", items}}.dump(), FileAccess::OwnerOnly);
}

bool PlayTimeQueue::Append(const QueuedUpload& upload) {
    std::lock_guard lock(mutex_);
    auto uploads = Load();
    if (!uploads) return false;
    uploads->push_back(upload);
    return Save(*uploads);
}

std::optional<QueuedUpload> PlayTimeQueue::First(const std::string& playerId) {
    std::lock_guard lock(mutex_);
    for (QueuedUpload& upload : Load().value_or(std::vector<QueuedUpload>())) {
        if (upload.playerId == playerId) return std::move(upload);
    }
    return std::nullopt;
}

bool PlayTimeQueue::RemoveFirst(const std::string& playerId) {
    std::lock_guard lock(mutex_);
    auto uploads = Load();
    if (!uploads) return false;
    const auto found = std::find_if(uploads->begin(), uploads->end(),
                                    [&](const QueuedUpload& upload) { return upload.playerId == playerId; });
    if (found == uploads->end()) return true;
    uploads->erase(found);
    return Save(*uploads);
}

std::vector<QueuedUpload> PlayTimeQueue::All() {
    std::lock_guard lock(mutex_);
    return Load().value_or(std::vector<QueuedUpload>());
}

}  // namespace lumivale
