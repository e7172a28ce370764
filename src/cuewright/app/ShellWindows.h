// The editor and prompter windows as the application controller sees them, and their factories.
#pragma once

#include "cuewright/model/ScreenDescription.h"
#include "cuewright/prompter/TeleprompterWindowPreset.h"

#include <functional>
#include <memory>
#include <optional>

class QScreen;
class QString;
class QWidget;

namespace cw {

class Project;

// What the controller does with any of its windows. Main thread only.
class ShellWindow {
public:
    virtual ~ShellWindow() = default;
    virtual const std::shared_ptr<Project>& project() const = 0;
    // Shows, raises and activates the window, making it first when needed.
    virtual void showWindow() = 0;
    // Asks the window to close as its close button does; false when it stayed open.
    virtual bool close() = 0;
    // The top-level widget; null while it is not made (fakes have none).
    virtual QWidget* window() const = 0;
    // The controller object behind the handle, by which delegate calls find it.
    virtual const void* controllerKey() const = 0;
};

// One open script's window.
class EditorWindow : public ShellWindow {
public:
    // The window shows unsaved changes.
    virtual bool isDocumentEdited() const = 0;
    // The window has really closed (a close that was cancelled or whose save failed leaves it false).
    virtual bool hasBeenClosed() const = 0;
    // Something goes on in it that closing would cut short (a print, a long edit): quitting asks
    // it as it asks an edited one.
    virtual bool hasWorkGoingOn() const { return false; }
    // Marks the script as holding unsaved changes, title included (a script whose edits were
    // brought back from a recovery copy).
    virtual void setDocumentEdited() = 0;
    // A warning shown in the window while not empty; empty takes it away.
    virtual void setNotice(const QString& text) = 0;
    // The list of recent documents to note each saved script in.
    virtual void setRecentDocumentHandler(std::function<void(const std::string& path)> handler) = 0;
    // Whether another window shows the file at a path: the window's saves never write there.
    virtual void setOpenElsewhereCheck(std::function<bool(const std::string& path)> check) { (void)check; }
    // Whether another copy of the application shows the file at a path: nor is it written.
    virtual void setOtherCopyCheck(std::function<bool(const std::string& path)> check) { (void)check; }
    // How much of a long script the editor has taken in, from 0 to 1; none once all of it is.
    virtual std::optional<double> textLoadProgress() const { return std::nullopt; }
};

// A free-floating or display-bound prompter window.
class PrompterWindow : public ShellWindow {
public:
    virtual TeleprompterWindowPreset preset() const = 0;
    virtual const std::optional<ScreenDescription>& screenDesc() const = 0;
    // Onto the display's visible frame, shown, then full screen there.
    virtual void showFullScreen(QScreen* screen) = 0;
    // Moves the prompter view "manualScrollingLineCount" lines; nothing before its view has loaded.
    enum class LineStep { up, down };
    virtual void stepLines(LineStep step) = 0;
};

// How windows are made. The application supplies windows of the real controllers; tests supply
// fakes. The controller sets itself as delegate of what the factory returns.
struct ShellWindowFactory {
    std::function<std::shared_ptr<EditorWindow>(const std::shared_ptr<Project>&)> makeEditorWindow;
    std::function<std::shared_ptr<PrompterWindow>(const std::shared_ptr<Project>&, TeleprompterWindowPreset,
                                                  const std::optional<ScreenDescription>&)>
        makePrompterWindow;
    // The attached display with this UUID; null when none is.
    std::function<QScreen*(const std::string& displayUUID)> screenForDisplayUUID;
};

} // namespace cw
