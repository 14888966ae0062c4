#pragma once
// "java:open" (the catalogue of downloadable runtimes) and "java:install" (download and install
// one of them on a thread of its own, reporting "java:progress").
#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace lumivale {

class App;
class CloudClient;
class JavaPackageInstaller;

// Everything one installation needs, held by value so that the thread never touches the App.
struct JavaInstallTask {
    std::string name;                                 // the runtime's name as the page gave it
    std::shared_ptr<CloudClient> cloud;               // null: no backend client
    std::shared_ptr<JavaPackageInstaller> installer;
    std::filesystem::path downloadFolder;             // <temp>/LumivaleLauncher/java
    std::filesystem::path programFolder;              // holds runtime/ and log/
    std::shared_ptr<std::atomic<bool>> busy;          // cleared before the last event
    std::function<void(std::string)> send;            // a "java:progress" event to the page
    // A runtime the launcher must list itself: its java executable (called before "done").
    std::function<void(const std::string&)> installed;
};

// The installation from the first "resolve" to "done" or "error", on the calling thread.
void RunJavaInstall(const JavaInstallTask& task);

// UI thread.
void OnJavaOpen(App& app);
void OnJavaInstall(App& app, const std::string& command);

}  // namespace lumivale
