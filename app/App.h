#pragma once
// The one object that owns the launcher's state for the whole run.
#include <atomic>
#include <cstdint>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "CloudClient.h"
#include "CrashCommands.h"
#include "GameProcess.h"
#include "MainWindow.h"
#include "PlayTimeService.h"
#include "Settings.h"
#include "UiEvents.h"
#include "UiLoop.h"
#include "WebViewHost.h"
#include "Yggdrasil.h"

namespace lumivale {

class App {
public:
    // Builds every member empty with default settings; reads nothing from disk.
    App(std::shared_ptr<UiLoop> loop, std::shared_ptr<MainWindow> window,
        std::shared_ptr<WebViewHost> mainView);
    ~App();
    App(const App&) = delete;
    App& operator=(const App&) = delete;

    // Start-up on the calling thread, which becomes the UI thread. False when the window or the
    // page host cannot start.
    bool Init();

    // Runs each time the page has finished loading.
    void OnPageReady();
    // Finds the Java runtimes on a worker; the list replaces the saved one on the UI thread and
    // goes to the page again when the page has loaded by then.
    void ScanJavaInBackground();
    // Puts the found runtimes into the settings (and on the page once it has loaded), waiting for
    // the scan if it still runs; nothing when no scan is pending. Whatever chooses a Java calls it first.
    void TakeJavaScan();
    // The window is gone: the run ends.
    void OnWindowDestroyed();

    std::shared_ptr<UiLoop> loop;
    std::shared_ptr<MainWindow> window;
    Settings settings;
    std::shared_ptr<WebViewHost> mainView;
    UiEvents events;  // copy it into workers that send events
    GameProcess game;  // the launch under way and the running game; its Busy() is the running flag
    // The backend client: made once in Init and shared with the workers that use it.
    std::shared_ptr<CloudClient> cloud;
    // Key registration and play time for the signed-in account; made with the cloud client.
    std::shared_ptr<PlayTimeService> playTime;
    // The logs of the last crash, for the crash panel's buttons; shared with the game watcher.
    std::shared_ptr<LastCrash> lastCrash = std::make_shared<LastCrash>();
    // The sign-in side panel while it is open.
    std::shared_ptr<AuthPanel> authPanel;

    // Set while a Java installation runs; shared with its thread, which clears it at the end.
    std::shared_ptr<std::atomic<bool>> javaInstallBusy = std::make_shared<std::atomic<bool>>(false);
    std::atomic<bool> modpackImportBusy{false};
    // Set by "modpack:cancel"; shared with the import's worker.
    std::shared_ptr<std::atomic<bool>> modpackImportCancel = std::make_shared<std::atomic<bool>>(false);
    // Set while a version installs, and by "version:cancel"; shared with the install's thread.
    std::shared_ptr<std::atomic<bool>> versionInstallBusy = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<std::atomic<bool>> versionInstallCancel = std::make_shared<std::atomic<bool>>(false);
    std::string cloudPlayerId;
    bool loggedIn = false;
    Profile selection;                    // the role chosen for play
    std::vector<Profile> signInProfiles;  // the roles of this run's last password sign-in
    bool pendingSuccessNotice = false;    // the next page load reports a fresh sign-in
    bool pageLoaded = false;              // the page has loaded at least once
    std::future<std::vector<JavaInstall>> javaScan;  // the runtimes being looked for at start
    std::string successName;
};

// Sends one UI event (a JSON object text) from any thread.
void PostUiEvent(App& app, std::string json);

}  // namespace lumivale
