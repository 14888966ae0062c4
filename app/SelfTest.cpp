#include "SelfTest.h"

#include <nlohmann/json.hpp>
#include <thread>

namespace lumivale {

namespace {

std::string Text(const nlohmann::json& object, const char* key) {
    const auto found = object.find(key);
    return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

enum class Step { Loading, Bridge, FileNavigation, StillThere, Download, Done };

struct Run : std::enable_shared_from_this<Run> {
    std::shared_ptr<UiLoop> loop;
    std::shared_ptr<WebViewHost> view;
    SelfTestTimings timings;
    std::function<void(const SelfTestResult&)> done;
    SelfTestResult result;
    Step step = Step::Loading;
    int pings = 0;
    std::string document;  // the page's own token, set by its first answer

    // A task for the UI thread after `delay`, dropped when the loop was closed by then. The
    // run is still there: the task holds it.
    void Later(std::chrono::milliseconds delay, std::function<void(Run&)> task) {
        std::thread([self = shared_from_this(), delay, task = std::move(task)] {
            std::this_thread::sleep_for(delay);
            self->loop->Post([self, task] { task(*self); });
        }).detach();
    }

    void Finish(const std::string& failure) {
        if (step == Step::Done) return;
        step = Step::Done;
        if (result.failure.empty()) result.failure = failure;
        if (done) done(result);
    }

    void Ping() {
        view->PostJson(R"({"type":"selftest:ping","token":")" + std::to_string(++pings) + "\"}");
        const int sent = pings;
        const Step waiting = step;
        Later(timings.settle, [sent, waiting](Run& run) {
            if (run.step == waiting && run.pings == sent) {
                run.Finish(waiting == Step::Bridge ? "页面没有回应桥接消息" : "file: 导航之后页面不再回应");
            }
        });
    }

    void OnPageReady() {
        if (step == Step::Loading) {
            result.page = true;
            step = Step::Bridge;
            view->RunScript(kSelfTestListenerScript);
            Ping();
        } else if (step == Step::FileNavigation || step == Step::StillThere) {
            Finish("file: 导航没有被拦截：页面被重新加载");
        }
    }

    void OnMessage(const std::string& text) {
        const auto message = nlohmann::json::parse(text, nullptr, false);
        if (!message.is_object() || Text(message, "type") != "selftest:pong") return;  // the page's own
        if (Text(message, "token") != std::to_string(pings)) return;  // an answer that came too late
        const std::string from = Text(message, "document");
        if (step == Step::Bridge) {
            result.bridge = true;
            document = from;
            step = Step::FileNavigation;
            view->RunScript(kSelfTestFileScript);
            // The guard reports at once; a runtime that refuses by itself shows nothing, so the
            // page is asked again after a while in any case.
            Later(timings.settle, [](Run& run) {
                if (run.step == Step::FileNavigation) run.AskAgain();
            });
        } else if (step == Step::StillThere) {
            if (from != document) return Finish("file: 导航没有被拦截：页面换成了别的文档");
            result.fileNavigationRefused = true;
            step = Step::Download;
            view->RunScript(kSelfTestDownloadScript);
            Later(timings.settle, [](Run& run) {
                if (run.step == Step::Download) run.Finish("下载没有被拦截");
            });
        }
    }

    void AskAgain() {
        step = Step::StillThere;
        Ping();
    }

    void OnRefused(Refusal refusal) {
        if (refusal == Refusal::FileNavigation && step == Step::FileNavigation) {
            result.fileNavigationGuarded = true;
            // Out of the guard's call first: the host is still deciding.
            loop->Post([self = shared_from_this()] {
                if (self->step == Step::FileNavigation) self->AskAgain();
            });
        } else if (refusal == Refusal::Download && step == Step::Download) {
            result.downloadRefused = true;
            loop->Post([self = shared_from_this()] { self->Finish(""); });
        }
    }
};

}  // namespace

bool SelfTestResult::Passed() const {
    return window && page && bridge && fileNavigationRefused && downloadRefused && failure.empty();
}

std::string SelfTestResult::ToJson() const {
    nlohmann::json out = {{"passed", Passed()},
                          {"window", window},
                          {"page", page},
                          {"bridge", bridge},
                          {"fileNavigationRefused", fileNavigationRefused},
                          {"fileNavigationGuarded", fileNavigationGuarded},
                          {"downloadRefused", downloadRefused},
                          {"failure", failure}};
    return out.dump(2) + "\n";
}

void StartSelfTest(std::shared_ptr<UiLoop> loop, std::shared_ptr<WebViewHost> view, bool windowShown,
                   SelfTestTimings timings, std::function<void(const SelfTestResult&)> done) {
    auto run = std::make_shared<Run>();
    run->loop = std::move(loop);
    run->view = std::move(view);
    run->timings = timings;
    run->done = std::move(done);
    run->result.window = windowShown;
    if (!windowShown) return run->Finish("窗口无法显示");

    WebViewCallbacks callbacks;
    callbacks.onMessage = [run](const std::string& text) { run->OnMessage(text); };
    callbacks.onSchemeNavigation = [](const std::string&) { return true; };
    callbacks.onPageReady = [run] { run->OnPageReady(); };
    callbacks.onRefused = [run](Refusal refusal, const std::string&) { run->OnRefused(refusal); };
    if (!run->view->Init(std::move(callbacks))) return run->Finish("网页视图无法启动（WebView2 运行库缺失？）");
    run->Later(timings.limit, [](Run& late) { late.Finish("自检超时：页面没有加载完成"); });
}

}  // namespace lumivale
