#include "Entry.h"

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "App.h"
#include "Log.h"
#include "Files.h"
#include "Paths.h"
#include "SelfTest.h"
#include "SingleInstance.h"
#include "stdio/StdioHost.h"

namespace lumivale {

namespace {

constexpr const char* kCaption = "Lumivale启动器";

struct Options {
    bool headless = false;
    bool selfTest = false;
    std::string selfTestResult;  // where its JSON goes; empty: the program folder
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
        } else if (arg == "--self-test") {
            options.selfTest = true;
        } else if (arg.starts_with("--self-test=")) {
            options.selfTest = true;
            options.selfTestResult = std::string(arg.substr(12));
        }
    }
    return options;
}

// The window, the page and its guards checked without a person; 0 when every check passed.
int RunSelfTest(const Options& options, const std::shared_ptr<UiLoop>& loop, const std::shared_ptr<MainWindow>& window,
                const std::shared_ptr<WebViewHost>& view) {
    const std::filesystem::path file = options.selfTestResult.empty() ? ProgramFolder() / "self-test.json"
                                                                       : Utf8Path(options.selfTestResult);
    SelfTestResult result;
    result.failure = "无法打开窗口（没有图形显示或没有窗口界面）";
    if (window) {
        result.failure = "窗口在自检结束之前被关闭";
        loop->BindToCurrentThread();
        const bool shown = window->Show([loop] { loop->Quit(); });
        StartSelfTest(loop, view, shown, {}, [&result, loop, window](const SelfTestResult& outcome) {
            result = outcome;
            loop->Quit();
        });
        loop->Run();
        window->Destroy();
    }
    const std::string json = result.ToJson();
    std::fputs(json.c_str(), stdout);
    if (!WriteFileAtomically(file, json)) {
        std::fprintf(stderr, "[Lumivale] 无法写入自检结果 %s\n", PathUtf8(file).c_str());
        return 1;
    }
    std::fprintf(stderr, "[Lumivale] 自检结果已写入 %s\n", PathUtf8(file).c_str());
    return result.Passed() ? 0 : 1;
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
    if (!options.headless || options.selfTest) {
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
    if (options.selfTest) return RunSelfTest(options, loop, window, view);
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
