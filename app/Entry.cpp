#include "Entry.h"

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "App.h"
#include "Log.h"
#include "Paths.h"
#include "SingleInstance.h"
#include "stdio/StdioHost.h"

namespace lumivale {

namespace {

constexpr const char* kCaption = "Lumivale启动器";

struct Options {
    bool headless = false;
    std::string home;
};

Options ParseOptions(int argc, char** argv) {
    Options options;
    if (auto home = EnvironmentValue("LUMIVALE_HOME")) options.home = *home;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--headless") {
            options.headless = true;
        } else if (arg == "--home" && i + 1 < argc) {
            options.home = argv[++i];
        } else if (arg.starts_with("--home=")) {
            options.home = std::string(arg.substr(7));
        }
    }
    return options;
}

}  // namespace

int RunLauncher(int argc, char** argv, const DesktopHostFactory& desktop) {
    const Options options = ParseOptions(argc, argv);
    if (!options.home.empty()) {
        std::error_code ignored;
        std::filesystem::create_directories(Utf8Path(options.home), ignored);
        SetProgramFolder(Utf8Path(options.home));
    }

    auto loop = std::make_shared<UiLoop>();
    std::shared_ptr<MainWindow> window;
    std::shared_ptr<WebViewHost> view;
    if (!options.headless) {
        auto opened = desktop ? desktop(loop, [](const std::string& line) { ConsoleLog(line); })
                              : std::nullopt;
        if (opened) {
            window = opened->window;
            view = opened->view;
        } else {
            std::fputs(desktop ? "[Lumivale] 无法打开图形显示，以 --headless 方式运行。\n"
                                         : "[Lumivale] 此版本没有窗口界面，以 --headless 方式运行。\n",
                       stderr);
        }
    }
    if (!window) {
        // The line protocol: stdout carries only messages for the page, so console lines go
        // to stderr.
        SetConsoleLogToStderr(true);
        auto host =
            StdioHost::OnStandardStreams(loop, [](const std::string& line) { ConsoleLog(line); });
        window = host;
        view = host;
    }

    SingleInstance instance(ProgramFolder());
    if (!instance.IsFirst()) {
        instance.WakeFirst();
        window->ShowMessage("启动器已在运行中，请查看任务栏。", kCaption, MessageKind::Information);
        return 0;
    }

    App app(loop, window, view);
    if (!app.Init()) {
        window->ShowMessage("启动器初始化失败，请检查 WebView2 运行时是否已安装。", kCaption,
                          MessageKind::Error);
        return 1;
    }
    instance.ListenForWake([loop, window] { loop->Post([window] { window->Raise(); }); });
    loop->Run();
    return 0;
}

}  // namespace lumivale
