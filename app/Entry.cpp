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

int RunLauncher(int argc, char** argv) {
    const Options options = ParseOptions(argc, argv);
    if (!options.home.empty()) {
        std::error_code ignored;
        std::filesystem::create_directories(Utf8Path(options.home), ignored);
        SetProgramFolder(Utf8Path(options.home));
    }

    // Until the window arrives every run speaks the line protocol; stdout then carries only
    // messages for the page, so console lines go to stderr.
    if (!options.headless) {
        std::fprintf(stderr, "[Lumivale] 此版本没有窗口界面，以 --headless 方式运行。\n");
    }
    SetConsoleLogToStderr(true);

    auto loop = std::make_shared<UiLoop>();
    auto host = StdioHost::OnStandardStreams(loop, [](const std::string& line) { ConsoleLog(line); });

    SingleInstance instance(ProgramFolder());
    if (!instance.IsFirst()) {
        instance.WakeFirst();
        host->ShowMessage("启动器已在运行中，请查看任务栏。", kCaption, MessageKind::Information);
        return 0;
    }

    App app(loop, host, host);
    if (!app.Init()) {
        host->ShowMessage("启动器初始化失败，请检查 WebView2 运行时是否已安装。", kCaption,
                          MessageKind::Error);
        return 1;
    }
    instance.ListenForWake([loop, host] { loop->Post([host] { host->Raise(); }); });
    loop->Run();
    return 0;
}

}  // namespace lumivale
