// The application's open scripts, the active one, and the remote-control servers' slots.
#pragma once

#include "base/FileStamp.h"
#include "cuewright/model/Document.h"
#include "dispatch/Queue.h"

#include <QString>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {
class Defaults;
class AttributedString;
class ScreenProvider;
} // namespace platform

namespace cw {

class Project;
class BonjourServer;   // network remote control; started and stopped on Net::netManagementQueue
class BluetoothServer; // Bluetooth LE remote control; on BLE::bleManagementQueue

// One per application, created at start and kept to the end. Main thread only (checked in debug
// builds), apart from the two management queues, which belong to the servers.
//
// Projects enter the list only through newProject() and a successful openProject(), in that
// order, and leave it only through closeProject(). The same file may be opened twice; each
// opening makes its own project.
class Workspace {
public:
    static constexpr std::string_view netManagementQueueLabel = "Network Management Queue";
    static constexpr std::string_view bleManagementQueueLabel = "Bluetooth Management Queue";

    struct Net {
        std::shared_ptr<BonjourServer> server; // null until started
        dispatch::QueuePtr netManagementQueue;
    };
    struct BLE {
        std::shared_ptr<BluetoothServer> server; // null until started
        dispatch::QueuePtr bleManagementQueue;
    };

    // Projects on the application's settings store and Qt's displays.
    Workspace();
    // Projects on the given store (which must outlive the workspace and its projects), seeing the
    // displays of `screens` (Qt's when null).
    explicit Workspace(platform::Defaults& defaults,
                       std::shared_ptr<platform::ScreenProvider> screens = nullptr);
    // Waits for the tasks already on the two management queues.
    ~Workspace();
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;

    // In order of opening.
    const std::vector<std::shared_ptr<Project>>& projects() const { return projects_; }
    // The project that menus and remote commands act on; null when none is.
    const std::shared_ptr<Project>& activeProject() const { return activeProject_; }
    void setActiveProject(std::shared_ptr<Project> project);

    Net& net() { return net_; }
    BLE& ble() { return ble_; }

    // An empty script with the settings' properties, its display list refreshed, appended to
    // projects(). It does not become the active project.
    std::shared_ptr<Project> newProject();

    // Reads the file into a new project by its extension, lower-cased: "cwr" the script
    // database, "rtf" and "rtfd" rich text, "txt" and "text" plain text, "docx", "doc", "pdf".
    // Then refreshes its display list and appends it. Any other extension (none included)
    // throws ProjectError::fileTypeNotSupported with the path; a reader's error is passed on
    // unchanged. On a throw projects() is unchanged.
    std::shared_ptr<Project> openProject(const std::string& path);
    // A new project of a text already read and restyled as an import makes it (a large file read
    // off the main thread), its display list refreshed, appended to projects().
    // A new project of a script file's document already read (off the main thread) from `path`,
    // whose file had `stamp` before the read, as openProject() would make it, with the read's notice.
    std::shared_ptr<Project> openReadScript(const std::string& path, Document document,
                                            std::optional<base::FileStamp> stamp,
                                            const QString& readNotice = {});
    std::shared_ptr<Project> openImportedText(const platform::AttributedString& text,
                                              const QString& readNotice = {});

    // Pauses the project, removes it and clears the active project when it was that one. A
    // project that is not in the list is left alone (not even paused).
    void closeProject(std::shared_ptr<Project> project); // by value: may be an element of projects()

    // The lower-cased extension that chooses the reader: "rtfd" for "Notes.RTFD/".
    static std::string fileExtension(const std::string& path);

private:
    std::shared_ptr<Project> makeProject() const;

    platform::Defaults* defaults_;
    std::shared_ptr<platform::ScreenProvider> screens_;
    std::vector<std::shared_ptr<Project>> projects_;
    std::shared_ptr<Project> activeProject_;
    Net net_;
    BLE ble_;
};

} // namespace cw
