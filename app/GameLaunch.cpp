#include "GameLaunch.h"

#include <algorithm>

#include "App.h"
#include "AuthAgent.h"
#include "CoreCatalogue.h"
#include "CrashCommands.h"
#include "Endpoints.h"
#include "GameFileCompletion.h"
#include "JavaSelection.h"
#include "JsonFields.h"
#include "Paths.h"
#include "Resources.h"
#include "SystemReports.h"

namespace lumivale {

namespace {

void SendError(App& app, const std::string& reason) {
    PostUiEvent(app, R"({"type":"game:error","reason":")" + EscapeJsonBasic(reason) + R"("})");
}

LaunchRequest MakeRequest(const App& app, const CoreEntry& core, const JavaChoice& java) {
    const Settings& settings = app.settings;
    LaunchRequest request;
    request.javaPath = java.javaPath;
    request.javaMajor = java.javaMajor;
    request.gameDirectory = PathUtf8(Utf8Path(settings.gameDir) / "versions" / Utf8Path(core.name));
    request.gameRoot = settings.gameDir;
    request.coreFolder = core.folder;
    request.coreId = core.name;
    request.coreJar = core.jar;
    request.memoryMb = static_cast<std::uint32_t>(settings.memoryMb);
    request.options = buildOptionList(settings.gcPreset, settings.customJvmArgs);
    request.processPriority = settings.processPriority;
    request.serverAddress = settings.serverAddress;
    request.serverPort = settings.serverPort;
    request.playerName = settings.currentRole;
    request.playerUuid = settings.currentRoleId;
    request.accessToken = settings.accessToken;
    request.authRoot = settings.yggdrasilRoot;
    return request;
}

LaunchSteps MakeSteps(const App& app) {
    LaunchSteps steps;
    steps.completeFiles = [](const LaunchRequest& request, const LaunchProgress& progress,
                             std::string& error, const LaunchCancelled& cancelled) {
        return CompleteGameFiles(request.gameRoot, request.coreId, progress, error, cancelled);
    };
    // A build that carries no authentication agent fetches the current one for a signed-in start.
    steps.buildCommand = [](const LaunchRequest& request) {
        if (request.authRoot.empty() || !GetResource(IDR_AGENT_JAR).empty()) return buildLaunchCommand(request);
        LaunchRequest withAgent = request;
        withAgent.agentJar = ObtainAuthAgent(DefaultAuthAgentSources(GetEndpoints(), PathUtf8(ProgramFolder())));
        return buildLaunchCommand(withAgent);
    };
    // The session's length goes to the backend for the account signed in when the game ends.
    steps.onGameEnded = [playTime = app.playTime](const GameSession& session) {
        if (playTime) playTime->OnGameExit(session.startMs, session.endMs);
    };
    steps.explainCrash = MakeCrashExplainer(app.lastCrash, AccountSecrets(app.settings));
    return steps;
}

}  // namespace

void OnGameLaunch(App& app) {
    // While a launch or a game is under way, a second launch stops it.
    if (app.game.Busy()) {
        app.game.Stop();
        return;
    }
    Settings& settings = app.settings;
    ScanCores(settings);
    ReportCores(app);

    if (settings.selectedJava.empty() || settings.selectedCore.empty()) {
        SendError(app, "请先在「启动」页选择游戏版本和 Java");
        return;
    }
    const auto core = std::find_if(settings.cores.begin(), settings.cores.end(),
                                   [&](const CoreEntry& c) { return c.folder == settings.selectedCore; });
    if (core == settings.cores.end() || core->jar.empty()) {
        SendError(app, "所选游戏版本缺少核心 jar 文件，请在「启动」页换一个版本或重新安装");
        return;
    }
    app.TakeJavaScan();
    const JavaChoice java = ChooseJavaForCore(settings.selectedJava, settings.javaList, *core);
    if (!java.ok) {
        SendError(app, java.message);
        return;
    }
    PostUiEvent(app, R"({"type":"game:info","msg":")" + EscapeJsonBasic(java.message) + R"("})");
    WarnBeforeLaunch(app, *core, java.javaPath);
    app.game.Launch(MakeRequest(app, *core, java), MakeSteps(app));
}

void OnGameStop(App& app) { app.game.Stop(); }

}  // namespace lumivale
