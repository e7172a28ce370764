// Driving the real cuewright binary on a real X server: finding its windows as X sees them,
// waiting for them, input through XTest or xdotool, screenshots, and a private environment.
#pragma once

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QStringList>
#include <QUuid>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <string>

namespace endtoend {

inline std::filesystem::path outputDir() {
    const char* root = std::getenv("CW_TEST_OUTPUT_DIR");
    std::filesystem::path dir = std::filesystem::path(root && *root ? root : "/tmp") / "app";
    std::filesystem::create_directories(dir);
    return dir;
}

// A test's own working folder, inside the private folder this test process was given (see
// PrivateTestFolders), so that two runs of one program side by side never share a script, a
// settings file or a Recovery folder. Pictures go to outputDir().
inline std::filesystem::path workDir(const std::string& name) {
    const char* defaults = std::getenv("CUEWRIGHT_DEFAULTS_FILE");
    const std::filesystem::path root =
        defaults && *defaults ? std::filesystem::path(defaults).parent_path() / "work" : outputDir();
    return root / name;
}

// The window's title as the window manager shows it: _NET_WM_NAME (UTF-8), else WM_NAME.
inline std::string windowName(Display* display, Window window) {
    const Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, netName, 0, 1024, False, utf8, &type, &format, &count, &after,
                           &data) == Success &&
        data) {
        std::string name(reinterpret_cast<const char*>(data), count);
        XFree(data);
        if (type == utf8) {
            return name;
        }
    }
    char* plain = nullptr;
    if (!XFetchName(display, window, &plain) || !plain) {
        return {};
    }
    std::string name(plain);
    XFree(plain);
    return name;
}

// The first viewable window under `under` whose name `matches`, searched down the whole tree.
inline std::optional<Window> findWindow(Display* display, Window under,
                                        const std::function<bool(const std::string&)>& matches) {
    XWindowAttributes attributes;
    if (matches(windowName(display, under)) && XGetWindowAttributes(display, under, &attributes) &&
        attributes.map_state == IsViewable) {
        return under;
    }
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, under, &root, &parent, &children, &count)) {
        return std::nullopt;
    }
    std::optional<Window> found;
    for (unsigned i = 0; i < count && !found; ++i) {
        found = findWindow(display, children[i], matches);
    }
    if (children) {
        XFree(children);
    }
    return found;
}

// The first viewable window whose name contains `part`.
inline std::optional<Window> findWindow(Display* display, Window under, const std::string& part) {
    return findWindow(display, under,
                      [&](const std::string& name) { return name.find(part) != std::string::npos; });
}

// Polls until `ready` holds, while the program runs; false when it ended or 60 s passed (a
// loaded 2-core machine can take many seconds to start a debug build; a passing run never waits).
inline bool waitFor(QProcess& app, const std::function<bool()>& ready) {
    for (int i = 0; i < 1200; ++i) {
        if (ready()) {
            return true;
        }
        if (app.state() == QProcess::NotRunning) {
            return false;
        }
        app.waitForFinished(50);
    }
    return false;
}

inline void pressKeys(Display* display, std::initializer_list<KeySym> keys) {
    for (KeySym key : keys) {
        XTestFakeKeyEvent(display, XKeysymToKeycode(display, key), True, CurrentTime);
    }
    for (auto key = std::rbegin(keys); key != std::rend(keys); ++key) {
        XTestFakeKeyEvent(display, XKeysymToKeycode(display, *key), False, CurrentTime);
    }
    XFlush(display);
}

// Runs xdotool with the arguments on the test's display; false when it failed or is missing.
inline bool xdotool(const QStringList& arguments) {
    QProcess tool;
    tool.start(QStringLiteral("xdotool"), arguments);
    return tool.waitForFinished(15000) && tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
}

inline bool hasXdotool() {
    return xdotool({QStringLiteral("version")});
}

// Activates the window through the window manager and waits until it has the focus.
inline bool activate(Window window) {
    return xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(window)});
}

inline QImage screenshot(const char* name) {
    const QImage image = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    image.save(QString::fromStdString((outputDir() / name).string()));
    return image;
}

// An environment of the application's own under `work`: settings, data and configuration
// folders, an instance name of its own, and no system bus to announce anything on. The runtime
// folder is the test program's own short one: a socket's path must stay under 108 bytes, which a
// folder deep in a build tree need not.
inline QProcessEnvironment privateEnvironment(const std::filesystem::path& work) {
    const auto path = [&](const char* name) {
        std::filesystem::create_directories(work / name);
        return QString::fromStdString((work / name).string());
    };
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("CUEWRIGHT_INSTANCE_NAME",
                       "cuewright-e2e-" + QUuid::createUuid().toString(QUuid::Id128));
    environment.insert("CUEWRIGHT_DEFAULTS_FILE", QString::fromStdString((work / "defaults.json").string()));
    environment.insert("CUEWRIGHT_DATA_DIR", path("data"));
    environment.insert("XDG_CONFIG_HOME", path("config"));
    environment.insert("XDG_DATA_HOME", path("xdg-data"));
    const QString noBus = QStringLiteral("unix:path=") + QString::fromStdString((work / "no-bus").string());
    environment.insert("DBUS_SYSTEM_BUS_ADDRESS", noBus);
    environment.insert("CUEWRIGHT_BLUEZ_BUS_ADDRESS", noBus);
    return environment;
}

} // namespace endtoend
