#pragma once
// The main window and the desktop services that belong to it (pickers, links, message boxes).
#include <functional>
#include <memory>
#include <string>

namespace lumivale {

enum class MessageKind { Information, Error };

// The sign-in side panel: a narrow window docked to the right edge of the main window, with its
// own web view and its own user data folder, and a back button in its header band.
class AuthPanel {
public:
    virtual ~AuthPanel() = default;
    virtual void Navigate(const std::string& url) = 0;
    // Shuts the panel's web view down and destroys the panel. Safe to call twice.
    virtual void Close() = 0;
};

struct AuthPanelCallbacks {
    // Every address the panel's web view starts to load (UI thread).
    std::function<void(const std::string& url)> onNavigation;
    // The back button was pressed; the owner closes the panel.
    std::function<void()> onBack;
};

class MainWindow {
public:
    virtual ~MainWindow() = default;
    // Creates and shows the window; `onDestroyed` runs on the UI thread when it goes away.
    virtual bool Show(std::function<void()> onDestroyed) = 0;
    virtual void Minimise() = 0;
    virtual void Destroy() = 0;
    virtual void StartMove() = 0;
    virtual void Raise() = 0;
    virtual void OpenUrl(const std::string& url) = 0;
    // Asynchronous pickers: `done` runs on the UI thread with the chosen path, empty when cancelled.
    virtual void PickFolder(const std::string& title, std::function<void(const std::string&)> done) = 0;
    virtual void PickFile(const std::string& title, std::function<void(const std::string&)> done) = 0;
    virtual void ShowMessage(const std::string& text, const std::string& caption, MessageKind kind) = 0;
    // Opens the sign-in side panel; null when this host has no panel (the caller then signs in
    // through the main page instead).
    virtual std::shared_ptr<AuthPanel> OpenAuthPanel(AuthPanelCallbacks) { return nullptr; }
};

}  // namespace lumivale
