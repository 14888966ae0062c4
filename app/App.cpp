#include "App.h"

#include <algorithm>
#include <system_error>

#include "CoreCatalogue.h"
#include "Endpoints.h"
#include "JavaDiscovery.h"
#include "Log.h"
#include "OAuthSignIn.h"
#include "SignIn.h"
#include "SystemReports.h"
#include "UiBridge.h"

namespace lumivale {

App::App(std::shared_ptr<UiLoop> uiLoop, std::shared_ptr<MainWindow> mainWindow,
         std::shared_ptr<WebViewHost> view)
    : loop(std::move(uiLoop)),
      window(std::move(mainWindow)),
      mainView(std::move(view)),
      events(loop, mainView),
      game(events) {}

App::~App() {
    // A launch still preparing is cancelled; a running game keeps running, unwatched.
    game.Shutdown();
    if (playTime) playTime->Stop();
    if (authPanel) authPanel->Close();
    // Nothing queued for the page may run once the App is gone.
    if (loop) loop->Quit();
}

bool App::Init() {
    loop->BindToCurrentThread();

    settings.Load();
    // A saved Java list whose names do not look like version texts is found anew, off the UI
    // thread: each runtime is started once to learn its version, which the page's first answers
    // must not wait for.
    if (javaListNeedsRescan(settings.javaList)) ScanJavaInBackground();
    fillSelectedJava(settings.selectedJava, settings.javaList);
    ScanCores(settings);
    // The settings file is rewritten at every start.
    settings.Save();

    cloud = std::make_shared<CloudClient>(BackendBase(GetEndpoints(), settings.serverUrl));
    playTime = PlayTimeService::Create(cloud, [sink = events](std::string json) { sink.Post(std::move(json)); });
    // A stored sign-in is taken up again: key, registration, first fetch, token renewal.
    ResumeStoredSignIn(*this);
    playTime->StartPoller();
    playTime->StartReachabilityProbe();

    if (!window->Show([this] { OnWindowDestroyed(); })) return false;

    WebViewCallbacks callbacks;
    callbacks.onMessage = [this](const std::string& text) { HandleUiCommand(*this, text); };
    // The site's redirect back to the launcher, when it signed in inside the main view.
    callbacks.onSchemeNavigation = [this](const std::string& address) {
        OnMainRedirect(*this, address);
        return true;
    };
    callbacks.onPageReady = [this] { OnPageReady(); };
    if (!mainView->Init(std::move(callbacks))) {
        window->ShowMessage(
            "启动器界面初始化失败。\n可能原因：内嵌 HTML 资源缺失或 WebView2 运行库加载失败。\n"
            "请查看控制台/日志获取详细错误。",
            "Lumivale启动器", MessageKind::Error);
        return false;
    }
    return true;
}

void App::ScanJavaInBackground() {
    try {
        javaScan = std::async(std::launch::async, [loop = loop, current = settings.javaList, this] {
            std::vector<JavaInstall> found = scanJava(current);
            // Taken on the UI thread; dropped when the App has gone meanwhile (its loop is closed
            // then, and its destruction waits for this scan).
            loop->Post([this] { TakeJavaScan(); });
            return found;
        });
    } catch (const std::system_error&) {
        settings.javaList = scanJava(settings.javaList);
    }
}

void App::TakeJavaScan() {
    if (!javaScan.valid()) return;
    std::vector<JavaInstall> found = javaScan.get();
    // A runtime the player added meanwhile (picked or installed) stays listed.
    for (const JavaInstall& entry : settings.javaList) {
        const bool listed = std::any_of(found.begin(), found.end(),
                                        [&](const JavaInstall& known) { return known.exe == entry.exe; });
        if (entry.manual && !listed) found.push_back(entry);
    }
    settings.javaList = std::move(found);
    settings.Save();
    if (pageLoaded) ReportJava(*this);
}

void App::OnPageReady() {
    pageLoaded = true;
    ReportAccount(*this);
    ReportJava(*this);
    ReportCores(*this);
    ReportMemory(*this);
    ReportConfig(*this);
}

void App::OnWindowDestroyed() {
    // The CurseForge key lives in memory only and goes with the window.
    if (cloud) cloud->WithCurseForgeKey([](std::string& key) { key.clear(); });
    loop->Quit();
}

void PostUiEvent(App& app, std::string json) { app.events.Post(std::move(json)); }

}  // namespace lumivale
