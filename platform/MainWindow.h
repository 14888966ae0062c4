#pragma once
// The main window and the desktop services that belong to it (pickers, links, message boxes).
#include <functional>
#include <string>

namespace lumivale {

enum class MessageKind { Information, Error };

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
};

}  // namespace lumivale
