#pragma once
// Making sure the files a version JSON names are on disk: the official client jar (checked by
// SHA-1), the libraries, the asset index and its objects. Missing files come through the download
// engine, 64 at a time.
//
// Two flows use this: the pre-launch completion of the selected core (CompleteGameFiles) and the
// modpack import (CompleteModpackLibraries, CompleteAssets, EnsureModpackClientJar).
//
// Game folder layout (UTF-8 paths, joined with the native separator):
//   versions/<id>/<id>.json, versions/<id>/<id>.jar
//   libraries/<artifact path>
//   libraries/net/minecraft/client/<game version>/client-<game version>-official.jar
//   assets/indexes/<index id>.json
//   assets/objects/<first two characters of hash>/<hash>
//
// Every call blocks its (worker) thread. Progress callables are called from that thread or the
// download engine's, one call at a time; they may be empty. A cancellation check, when given, is asked before each step and while the downloads
// run: once it answers true the downloads stop (running ones too, their temporary files removed),
// nothing more is reported, and the call ends early with kCompletionCancelledMessage.
#include <functional>
#include <string>

#include <nlohmann/json.hpp>

#include "Endpoints.h"

namespace lumivale {

// (percentage 0..100, text) of the pre-launch completion and of CompleteAssets.
using CompletionProgress = std::function<void(int percent, const std::string& text)>;
// (step, step count, percentage, text) of the modpack import.
using ModpackProgress =
    std::function<void(int step, int stepCount, int percent, const std::string& text)>;
// True once the caller wants the work to stop.
using CancelCheck = std::function<bool()>;

inline constexpr int kCompletionWorkers = 64;
inline constexpr int kModpackStepCount = 7;
inline constexpr int kModpackLibrariesStep = 2;
inline constexpr int kModpackAssetsStep = 3;
inline constexpr int kModpackClientJarStep = 4;

// Texts that callers and tests compare against.
inline constexpr const char* kVersionJsonNotFoundMessage = "找不到版本 JSON：";
inline constexpr const char* kCompletionCancelledMessage = "已取消补齐游戏文件";
inline constexpr const char* kOfficialJarDownloadFailedMessage = "原版客户端下载失败（";
inline constexpr const char* kOfficialJarDownloadHint =
    "）。请确认网络能够访问 BMCLAPI 镜像，或先用其他启动器完整启动一次该版本。";
inline constexpr const char* kAssetIndexDownloadFailedMessage = "资源索引下载失败：";
inline constexpr const char* kModpackClientUrlMissingMessage = "原版版本信息缺少客户端下载地址";
inline constexpr const char* kModpackClientSha1MismatchMessage = "原版客户端校验失败（sha1 不符）";

// Lower-case hexadecimal SHA-1 (40 characters) of a file; empty when it cannot be read.
std::string Sha1OfFile(const std::string& path);

// The text of `versionId` before the first "-forge" or, failing that, "_forge" (any letter case);
// empty when neither occurs.
std::string ParentOfForgeName(const std::string& versionId);

// The first "client-*-official.jar" of the first sub-folder of libraries/net/minecraft/client that
// holds one; sub-folders and files are taken in byte order of their names. Empty when none.
std::string FindOfficialClientJar(const std::string& gameDir);

// Pre-launch completion of core `versionId`: the official client jar its own version JSON names,
// then the missing libraries of that JSON and of every version it inherits from (class-path jars,
// libraries named only by coordinates, natives of this system), each checked against the SHA-1 and
// size it declares; a present file of another size is fetched again. False with `error` set when
// the JSON cannot be read, the official jar cannot be made right, or any library fails (after
// every library has run).
bool CompleteGameFiles(const std::string& gameDir, const std::string& versionId,
                       const CompletionProgress& progress, std::string& error,
                       const CancelCheck& cancelled = nullptr);

// Keeps the unpatched official client jar of a Forge core intact: a jar whose SHA-1 differs
// from downloads.client.sha1 is moved to <jar>.badsha1.bak and downloaded again (a download of
// another SHA-1 or size is refused). The jar is the one of "clientVersion" (an imported pack's
// core), else of the game version before "-forge" in the id. True without doing anything when the
// JSON names no client download or no official jar path can be found.
bool EnsureOfficialClientJar(const std::string& gameDir, const nlohmann::json& versionJson,
                             const CompletionProgress& progress, std::string& error,
                             const CancelCheck& cancelled = nullptr);

// The asset index of the version JSON and every object it names that is missing. Only a failed
// index download fails; failed objects are logged and skipped. The index comes from
// assetIndex.url, else from the mirror; objects from the official asset base (the engine tries the
// mirror form first). `endpoints` gives both bases.
bool CompleteAssets(const std::string& gameDir, const nlohmann::json& versionJson,
                    const CompletionProgress& progress, std::string& error,
                    const CancelCheck& cancelled = nullptr,
                    const Endpoints& endpoints = GetEndpoints());

// Step 2 of the modpack import: the allowed library artifacts (no natives) that are missing.
// Failed libraries are logged and counted, never a failure.
void CompleteModpackLibraries(const std::string& gameDir, const nlohmann::json& vanillaJson,
                              const ModpackProgress& progress,
                              const CancelCheck& cancelled = nullptr);

// Step 4 of the modpack import: <versionFolder>/<folder name>.jar from downloads.client (checked by
// SHA-1 when one is given), then copied to the official jar path of `gameVersion`.
bool EnsureModpackClientJar(const std::string& gameDir, const nlohmann::json& vanillaJson,
                            const std::string& versionFolder, const std::string& gameVersion,
                            const ModpackProgress& progress, std::string& error,
                            const CancelCheck& cancelled = nullptr);

}  // namespace lumivale
