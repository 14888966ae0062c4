#include "OAuthSignIn.h"

#include "App.h"
#include "Endpoints.h"
#include "JsonFields.h"
#include "OAuth.h"
#include "SignIn.h"

namespace lumivale {

namespace {

void FinishSignIn(App& app, const std::string& address, bool fromPanel) {
    const auto close = [&] {
        if (fromPanel) CloseAuthPanel(app);
    };
    const std::string error = QueryValue(address, "error");
    if (!error.empty()) {
        std::string reason = QueryValue(address, "error_description");
        if (reason.empty()) reason = "OAuth 错误: " + error;
        close();
        PostUiEvent(app, R"({"type":"oauth:fail","reason":")" + EscapeJsonBasic(reason) + R"("})");
        app.mainView->ReloadWithError(reason);
        return;
    }
    const std::size_t codeAt = address.find("?code=");
    if (codeAt == std::string::npos) {
        close();
        return;
    }
    const std::size_t from = codeAt + 6;
    const std::string code = address.substr(from, address.find('&', from) - from);

    const std::optional<OAuthAccount> account =
        ExchangeCode(app.settings.oauth, code, GetEndpoints().littleSkinBase);
    close();
    if (!account) {
        PostUiEvent(app, R"({"type":"oauth:fail","reason":"token 换取失败"})");
        app.mainView->ReloadWithError(kOAuthExchangeFailedShown);
        return;
    }
    Settings& settings = app.settings;
    settings.accessToken = account->accessToken;
    if (account->userAnswered) {
        settings.accountId = account->accountId;
        settings.accountName = account->accountName;
    }
    settings.Save();
    app.loggedIn = true;
    app.cloudPlayerId = settings.accountId;
    app.pendingSuccessNotice = true;
    app.successName = settings.currentRole;  // no fallback name here: no role was chosen
    PrepareCloudAccount(app, false);
    app.mainView->ReloadWithError("");
}

}  // namespace

void OnOAuthLogin(App& app) {
    if (app.authPanel) return;
    PostUiEvent(app, R"({"type":"oauth:starting"})");
    const std::string authorize = BuildAuthorizeUrl(app.settings.oauth, GetEndpoints().littleSkinBase);
    AuthPanelCallbacks callbacks;
    callbacks.onNavigation = [&app](const std::string& address) {
        if (address.size() >= 11 && address.starts_with(kOAuthRedirectScheme)) FinishSignIn(app, address, true);
    };
    callbacks.onBack = [&app] { CloseAuthPanel(app); };
    app.authPanel = app.window->OpenAuthPanel(std::move(callbacks));
    if (!app.authPanel) {
        // No panel: the site's page opens in the main view, whose redirect finishes the flow.
        PostUiEvent(app, R"({"type":"oauth:starting"})");
        app.mainView->Navigate(authorize);
        return;
    }
    app.authPanel->Navigate(authorize);
}

void OnMainRedirect(App& app, const std::string& address) { FinishSignIn(app, address, false); }

void CloseAuthPanel(App& app) {
    if (!app.authPanel) return;
    // The panel may be closing from inside one of its own callbacks: keep it alive until then.
    const std::shared_ptr<AuthPanel> panel = std::move(app.authPanel);
    app.authPanel.reset();
    panel->Close();
}

}  // namespace lumivale
