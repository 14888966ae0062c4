#pragma once
// One URL to one file on disk: the mirror form first, then the URL itself, each tried up to six
// times, redirects followed, the body written to a ".part" file and moved into place only once
// complete. RunParallel runs many such downloads on a small pool.
#include <functional>
#include <string>

namespace lumivale {

// True when the file is in place. On false, `error` holds the message of the last failure. An
// existing target is replaced only by a complete, non-empty body.
bool DownloadFile(const std::string& url, const std::string& targetPath, std::string& error);

// Runs work(i) for i in 0..count-1 on `workers` threads (8 when below 1, never more than count),
// the calling thread included; completion(i, ok) runs under one mutex. A work call that throws
// counts as false. Returns how many calls returned true.
int RunParallel(int count, int workers, const std::function<bool(int)>& work,
                const std::function<void(int, bool)>& completion = nullptr);

// Creates every missing folder on the way to the file's parent; failures are ignored.
void EnsureParentDirectories(const std::string& filePath);

// True for an existing file (not a folder) larger than 0 bytes.
bool FileIsNonEmpty(const std::string& path);

}  // namespace lumivale
