// Driving the real cuewright binary on a real X server: finding its windows as X sees them,
// waiting for them, input through XTest or xdotool, screenshots, a private environment, and the
// fixture every program's tests start from. Include it after gtest, which uses Xlib's names.
#pragma once

#include "cuewright/model/Project.h"
#include "cuewright/model/ScriptDocumentFile.h"
#include "cuewright/model/SettingsKeys.h"
#include "cuewright/model/UserDefaults.h"
#include "cuewright/model/Workspace.h"
#include "platform/defaults/Defaults.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QRect>
#include <QScreen>
#include <QStringList>
#include <QUuid>

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

// The main of an end-to-end program: screenshots want a QGuiApplication.
#define CW_END_TO_END_MAIN()                                                                                 \
    int main(int argc, char** argv) {                                                                        \
        QGuiApplication application(argc, argv);                                                             \
        ::testing::InitGoogleTest(&argc, argv);                                                              \
        return RUN_ALL_TESTS();                                                                              \
    }

namespace endtoend {

// Where the pictures of `area` go, for people to look at.
inline std::filesystem::path outputDir(const char* area = "app") {
    const char* root = std::getenv("CW_TEST_OUTPUT_DIR");
    std::filesystem::path dir = std::filesystem::path(root && *root ? root : "/tmp") / area;
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

// The window the window manager calls active (_NET_ACTIVE_WINDOW); 0 when none.
inline Window activeWindow(Display* display) {
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    Window active = 0;
    if (XGetWindowProperty(display, DefaultRootWindow(display),
                           XInternAtom(display, "_NET_ACTIVE_WINDOW", False), 0, 1, False, XA_WINDOW, &type,
                           &format, &count, &after, &data) == Success &&
        data) {
        if (count == 1 && format == 32) {
            active = *reinterpret_cast<Window*>(data);
        }
        XFree(data);
    }
    return active;
}

// The viewable windows under `under` whose name `matches`, searched down the whole tree.
inline std::vector<Window> findWindows(Display* display, Window under,
                                       const std::function<bool(const std::string&)>& matches) {
    XWindowAttributes attributes;
    if (matches(windowName(display, under)) && XGetWindowAttributes(display, under, &attributes) &&
        attributes.map_state == IsViewable) {
        return {under};
    }
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    std::vector<Window> found;
    if (!XQueryTree(display, under, &root, &parent, &children, &count)) {
        return found;
    }
    for (unsigned i = 0; i < count; ++i) {
        const std::vector<Window> below = findWindows(display, children[i], matches);
        found.insert(found.end(), below.begin(), below.end());
    }
    if (children) {
        XFree(children);
    }
    return found;
}

// The first of them.
inline std::optional<Window> findWindow(Display* display, Window under,
                                        const std::function<bool(const std::string&)>& matches) {
    const std::vector<Window> found = findWindows(display, under, matches);
    return found.empty() ? std::nullopt : std::optional<Window>(found.front());
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

// Runs the X tool `program` with the arguments on the test's display; false when it failed or is
// missing.
inline bool runTool(const QString& program, const QStringList& arguments) {
    QProcess tool;
    tool.start(program, arguments);
    return tool.waitForFinished(15000) && tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
}
inline bool xdotool(const QStringList& arguments) {
    return runTool(QStringLiteral("xdotool"), arguments);
}
inline bool xrandr(const QStringList& arguments) {
    return runTool(QStringLiteral("xrandr"), arguments);
}
// The monitors a test makes outlive it on the server: a repeat in the same server starts from
// none, as a fresh one does.
inline void removeMonitors(std::initializer_list<const char*> names) {
    for (const char* name : names) {
        xrandr({QStringLiteral("--delmonitor"),
                QString::fromLatin1(name)}); // absent ones are refused, harmlessly
    }
}

inline bool hasXdotool() {
    return xdotool({QStringLiteral("version")});
}

// The open menus: viewable top-level windows that the window manager does not frame.
inline std::vector<QRect> openMenus(Display* display, Window root) {
    std::vector<QRect> menus;
    Window rootReturn = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, root, &rootReturn, &parent, &children, &count)) {
        return menus;
    }
    for (unsigned i = 0; i < count; ++i) {
        XWindowAttributes a;
        if (XGetWindowAttributes(display, children[i], &a) && a.map_state == IsViewable &&
            a.override_redirect && a.width > 20 && a.height > 20) {
            menus.emplace_back(a.x, a.y, a.width, a.height);
        }
    }
    if (children) {
        XFree(children);
    }
    return menus;
}

// Presses `keys` with xdotool; after a first key that opens a menu (Alt and a letter) it waits for
// the menu to show: keys sent on at once could reach the window before the menu has the keyboard.
inline bool pressKeysThroughMenu(QProcess& app, Display* display, const QStringList& keys) {
    const auto menuShown = [&] { return !openMenus(display, DefaultRootWindow(display)).empty(); };
    const bool opensMenu = !keys.isEmpty() && keys.first().startsWith(QStringLiteral("alt+"));
    if (keys.isEmpty() || (opensMenu && !waitFor(app, [&] { return !menuShown(); })) ||
        !xdotool({QStringLiteral("key"), keys.first()}) || (opensMenu && !waitFor(app, menuShown))) {
        return false;
    }
    return keys.size() == 1 || xdotool(QStringList{QStringLiteral("key")} + keys.mid(1));
}

// The keyboard's locks, as `xset q` shows them: the key and the modifier it locks.
struct KeyLock {
    KeySym key;
    unsigned mask;
};
inline constexpr KeyLock capsLock{XK_Caps_Lock, LockMask};
inline constexpr KeyLock numLock{XK_Num_Lock, Mod2Mask};

inline bool isLocked(Display* display, KeyLock lock) {
    XkbStateRec state{};
    return XkbGetState(display, XkbUseCoreKbd, &state) == Success && (state.locked_mods & lock.mask) != 0;
}

// Sets a lock as a person does, with its key (xdotool's --clearmodifiers would not), and waits
// until the server has it so; whether it has.
inline bool setLock(QProcess& app, Display* display, KeyLock lock, bool on) {
    return isLocked(display, lock) == on ||
           (xdotool({QStringLiteral("key"), QString::fromLatin1(XKeysymToString(lock.key))}) &&
            waitFor(app, [&] { return isLocked(display, lock) == on; }));
}

// Activates the window through the window manager and waits until it has the focus.
inline bool activate(Window window) {
    // The window manager may give a window it has just mapped the focus after this request, and
    // the wait for this one then never ends (the tool is stopped after 15 s): ask once more.
    const auto once = [window] {
        return xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(window)});
    };
    return once() || once();
}

// The whole root window of screen 0 as X holds it now (the test's own QScreen may not know of
// monitors added since it started).
inline QImage grabRoot(Display* display) {
    const Window root = DefaultRootWindow(display);
    XWindowAttributes attributes;
    XGetWindowAttributes(display, root, &attributes);
    XImage* shot = XGetImage(display, root, 0, 0, attributes.width, attributes.height, AllPlanes, ZPixmap);
    if (shot == nullptr) {
        return {};
    }
    QImage image = QImage(reinterpret_cast<const uchar*>(shot->data), shot->width, shot->height,
                          shot->bytes_per_line, QImage::Format_RGB32)
                       .copy();
    XDestroyImage(shot);
    return image;
}

inline QImage screenshot(const std::string& name, const char* area = "app") {
    const QImage image = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    image.save(QString::fromStdString((outputDir(area) / name).string()));
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

// The client area of `window` in root coordinates.
inline QRect rootGeometry(Display* display, Window window) {
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, window, &attributes)) {
        return {};
    }
    int x = 0, y = 0;
    Window child = 0;
    XTranslateCoordinates(display, window, attributes.root, 0, 0, &x, &y, &child);
    return QRect(x, y, attributes.width, attributes.height);
}

// The size of the viewable window named `part` on X screen `screen`; none when there is none.
inline std::optional<QSize> viewableOnScreen(Display* display, int screen, const std::string& part) {
    const std::optional<Window> window = findWindow(display, RootWindow(display, screen), part);
    XWindowAttributes attributes;
    if (!window || !XGetWindowAttributes(display, *window, &attributes) ||
        attributes.map_state != IsViewable) {
        return std::nullopt;
    }
    return QSize(attributes.width, attributes.height);
}

// A path as a program's argument.
inline QString pathArg(const std::filesystem::path& path) {
    return QString::fromStdString(path.string());
}

inline std::string fileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// How many pixels of `window`, as the screen shows it, have the colour `rgb` (alpha ignored).
inline int pixelsOfColor(Display* display, Window window, QRgb rgb) {
    const QRect area = rootGeometry(display, window);
    const QImage shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    int count = 0;
    for (int row = std::max(0, area.top()); row < std::min(shot.height(), area.bottom() + 1); ++row) {
        for (int column = std::max(0, area.left()); column < std::min(shot.width(), area.right() + 1);
             ++column) {
            count += (shot.pixel(column, row) & 0xffffff) == (rgb & 0xffffff);
        }
    }
    return count;
}

// The text of the script at `path`; empty while it is missing or being replaced.
inline QString scriptText(const std::filesystem::path& path) {
    try {
        return cw::ScriptDocumentFile::open(path).text.string();
    } catch (const std::exception&) {
        return {};
    }
}

// Where the bookmark objects of the script at `path` begin; empty while it is missing or being
// replaced.
inline std::vector<int> savedBookmarks(const std::filesystem::path& path) {
    std::vector<int> marked;
    try {
        for (const auto& run : cw::ScriptDocumentFile::open(path).text.runs()) {
            if (run.attributes.bookmark) {
                marked.push_back(run.range.location);
            }
        }
    } catch (const std::exception&) {
        marked.clear();
    }
    return marked;
}

// Whether `text` is `expected` in some order: where typed characters land is the editor's
// business (its caret may move while the window settles), so only they are compared.
inline bool sameCharacters(QString text, QString expected) {
    std::sort(text.begin(), text.end());
    std::sort(expected.begin(), expected.end());
    return text == expected;
}

// The system's IPv4 UDP sockets (/proc/net/udp): port, bytes waiting to be read, inode.
struct UdpSocket {
    std::uint16_t port = 0;
    unsigned long queued = 0;
    std::string inode;
};
inline std::vector<UdpSocket> udpSockets() {
    std::vector<UdpSocket> sockets;
    std::ifstream table("/proc/net/udp");
    std::string line;
    std::getline(table, line); // the titles
    while (std::getline(table, line)) {
        // sl local_address rem_address st tx_queue:rx_queue tr:tm->when retrnsmt uid timeout inode
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
        fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >>
            inode;
        if (local.find(':') != std::string::npos && queues.find(':') != std::string::npos) {
            sockets.push_back({std::uint16_t(std::stoul(local.substr(local.find(':') + 1), nullptr, 16)),
                               std::stoul(queues.substr(queues.find(':') + 1), nullptr, 16), inode});
        }
    }
    return sockets;
}

// The IPv4 UDP ports the process `pid` has bound.
inline std::vector<std::uint16_t> udpPorts(qint64 pid) {
    std::set<std::string> inodes;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(
             std::filesystem::path("/proc") / std::to_string(pid) / "fd", error)) {
        const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
        if (target.starts_with("socket:[")) {
            inodes.insert(target.substr(8, target.size() - 9));
        }
    }
    std::vector<std::uint16_t> ports;
    for (const UdpSocket& socket : udpSockets()) {
        if (inodes.count(socket.inode) != 0) {
            ports.push_back(socket.port);
        }
    }
    return ports;
}

// Whether the window manager stacks `upper` above `lower` (_NET_CLIENT_LIST_STACKING, bottom first).
inline bool stackedAbove(Display* display, Window upper, Window lower) {
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, DefaultRootWindow(display),
                           XInternAtom(display, "_NET_CLIENT_LIST_STACKING", False), 0, 4096, False,
                           XA_WINDOW, &type, &format, &count, &after, &data) != Success ||
        !data) {
        return false;
    }
    const auto* stack = reinterpret_cast<const Window*>(data);
    const auto* end = stack + count;
    const auto* upperAt = std::find(stack, end, upper);
    const auto* lowerAt = std::find(stack, end, lower);
    const bool above = upperAt != end && lowerAt != end && upperAt > lowerAt;
    XFree(data);
    return above;
}

// The most memory the process `pid` has held, in bytes (0 when it cannot be read).
inline std::uint64_t peakResidentBytes(qint64 pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with("VmHWM:")) {
            return std::stoull(line.substr(6)) * 1024;
        }
    }
    return 0;
}

// A request for the command `name` (ReportStatus, Rewind, ...) to the active script.
inline std::string remoteRequest(const std::string& name) {
    return R"({"protver": 2, "cmdendpoint": "active", "paylodetype": "command", "payload": {"cmdname": ")" +
           name + R"("}})";
}

// A datagram socket on a loopback address of `family` (`ipv4Host` picks another IPv4 one, which
// the application takes for another host); -1 when the family is missing here.
class Loopback {
public:
    explicit Loopback(int family, const char* ipv4Host = "127.0.0.1")
        : family_(family)
        , fd_(::socket(family, SOCK_DGRAM | SOCK_NONBLOCK, 0)) {
        const int size = 4 << 20;
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        sockaddr_storage local = address(family == AF_INET ? ipv4Host : "::1", 0);
        if (fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&local), length()) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~Loopback() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Loopback(const Loopback&) = delete;
    Loopback& operator=(const Loopback&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    bool send(std::uint16_t port, const std::string& bytes) const {
        sockaddr_storage to = address(family_ == AF_INET ? "127.0.0.1" : "::1", port);
        return ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), length()) ==
               ssize_t(bytes.size());
    }
    // The next datagram within `milliseconds`; empty when none came.
    std::string receive(int milliseconds) const {
        pollfd waiting{fd_, POLLIN, 0};
        std::string reply(65536, '\0');
        ssize_t size = 0;
        if (::poll(&waiting, 1, milliseconds) == 1) {
            size = ::recv(fd_, reply.data(), reply.size(), 0);
        }
        reply.resize(size > 0 ? std::size_t(size) : 0);
        return reply;
    }
    // Whether the remote control on `port` answers a status request with a status.
    bool statusAnswered(std::uint16_t port) const {
        if (!send(port, remoteRequest("ReportStatus"))) {
            return false;
        }
        for (std::string reply = receive(10000); !reply.empty(); reply = receive(10000)) {
            if (reply.find("\"result\"") != std::string::npos) {
                return true;
            }
        }
        return false;
    }

private:
    static sockaddr_storage address(const char* host, std::uint16_t port) {
        sockaddr_storage storage{};
        if (std::strchr(host, ':') == nullptr) {
            auto& in = reinterpret_cast<sockaddr_in&>(storage);
            in.sin_family = AF_INET;
            in.sin_port = htons(port);
            ::inet_pton(AF_INET, host, &in.sin_addr);
        } else {
            auto& in6 = reinterpret_cast<sockaddr_in6&>(storage);
            in6.sin6_family = AF_INET6;
            in6.sin6_port = htons(port);
            ::inet_pton(AF_INET6, host, &in6.sin6_addr);
        }
        return storage;
    }
    socklen_t length() const { return family_ == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6); }

    int family_;
    int fd_;
};

// What the remote control on the loopback `port` answers to the command `name`; empty when no
// answer came within a second (the server still starting, say).
inline std::string remoteReply(std::uint16_t port, const std::string& name) {
    const Loopback socket(AF_INET);
    return socket.send(port, remoteRequest(name)) ? socket.receive(1000) : std::string();
}

inline std::string remoteStatusReply(std::uint16_t port) {
    return remoteReply(port, "ReportStatus");
}

// The active script's status as the application's remote control reports it; null when no answer
// came within a second.
inline nlohmann::json askStatus(std::uint16_t port) {
    const auto parsed = nlohmann::json::parse(remoteStatusReply(port), nullptr, false);
    if (parsed.is_object() && parsed.contains("payload") && parsed["payload"].contains("status")) {
        return parsed["payload"]["status"];
    }
    return {};
}

// A test of the real binary: the X display, a work folder named after the test with a private
// environment and a defaults file that announces nothing on the network, and every start it
// made killed at the end.
class AppTest : public ::testing::Test {
protected:
    // Skipped without xdotool unless the test drives everything through XTest.
    explicit AppTest(bool usesXdotool = true)
        : usesXdotool_(usesXdotool) {}

    void SetUp() override {
        if (usesXdotool_ && !hasXdotool()) {
            GTEST_SKIP() << "xdotool is not installed";
        }
        display = XOpenDisplay(nullptr);
        ASSERT_NE(display, nullptr);
        root = DefaultRootWindow(display);
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(test->test_suite_name()) + "-" + test->name();
        std::replace(name.begin(), name.end(), '/', '-');
        work = workDir(name);
        std::filesystem::remove_all(work);
        std::filesystem::create_directories(work);
        environment = privateEnvironment(work);
        setDefault(cw::settings::isBonjourEnabled, false);
    }
    void TearDown() override {
        for (auto& app : apps) {
            if (app->state() != QProcess::NotRunning) {
                app->kill();
                app->waitForFinished();
            }
        }
        if (display) {
            // The next test on this server starts with the locks off, as a fresh server does.
            for (const KeyLock lock : {capsLock, numLock}) {
                if (isLocked(display, lock)) {
                    pressKeys(display, {lock.key});
                    XSync(display, False);
                }
            }
            XCloseDisplay(display);
        }
    }
    // A loaded machine can hold a key xdotool sends long enough for the server to repeat it.
    void noKeyRepeat() {
        XAutoRepeatOff(display);
        XFlush(display);
    }
    // Whether SetUp went through: a fixture's own SetUp goes on only then.
    bool setUpDone() const { return !IsSkipped() && !HasFatalFailure(); }

    void setDefault(std::string_view key, const platform::Value& value) {
        platform::Defaults defaults({work / "defaults.json", std::chrono::hours(1), {}});
        defaults.set(key, value);
        ASSERT_TRUE(defaults.synchronize());
    }

    // A saved script `name` in the work folder; `adjust` may change the project before the save.
    std::filesystem::path makeScript(const std::string& name, const platform::AttributedString& text,
                                     const std::function<void(cw::Project&)>& adjust = {}) {
        platform::Defaults defaults({work / "scratch-defaults.json", std::chrono::hours(1), {}});
        cw::registerUserDefaults(defaults);
        cw::Workspace workspace(defaults);
        auto project = workspace.newProject();
        project->setText(text);
        if (adjust) {
            adjust(*project);
        }
        project->save((work / name).string());
        workspace.closeProject(project);
        return work / name;
    }
    std::filesystem::path makeScript(const std::string& name, const QString& text) {
        return makeScript(name, platform::AttributedString(text));
    }

    // Starts `program` (the application unless told) in `environment` unless given another, in
    // `folder` when given; its output goes where `channels` says.
    QProcess& start(const QStringList& arguments, const std::optional<QProcessEnvironment>& env = {},
                    const QString& program = QStringLiteral(CW_APP_BINARY),
                    const std::filesystem::path& folder = {},
                    QProcess::ProcessChannelMode channels = QProcess::ForwardedChannels) {
        apps.push_back(std::make_unique<QProcess>());
        QProcess& app = *apps.back();
        app.setProcessEnvironment(env.value_or(environment));
        app.setProcessChannelMode(channels);
        app.setWorkingDirectory(pathArg(folder));
        app.start(program, arguments);
        EXPECT_TRUE(app.waitForStarted());
        return app;
    }

    // Starts the application on `script` into `app` and waits for its editor window, activated;
    // none when none came.
    std::optional<Window> startEditing(const std::filesystem::path& script, QProcess*& app) {
        app = &start({pathArg(script)});
        const std::optional<Window> editor = waitForWindow(
            *app, [name = script.filename().string()](const std::string& n) { return n == name; });
        EXPECT_TRUE(editor && activate(*editor)) << "no editor window for " << script;
        return editor;
    }

    // Waits for a window whose name `matches` while `app` runs; none when it ended or none came.
    std::optional<Window> waitForWindow(QProcess& app,
                                        const std::function<bool(const std::string&)>& matches) {
        std::optional<Window> window;
        waitFor(app, [&] { return (window = findWindow(display, root, matches)).has_value(); });
        return window;
    }
    // The same for a name containing `part`, and for one that is exactly `name`.
    std::optional<Window> waitForWindow(QProcess& app, const std::string& part) {
        return waitForWindow(app,
                             [&](const std::string& name) { return name.find(part) != std::string::npos; });
    }
    std::optional<Window> waitForNamed(QProcess& app, const std::string& name) {
        return waitForWindow(app, [&](const std::string& n) { return n == name; });
    }
    // Alerts and the start window carry the application's name alone.
    std::optional<Window> waitForAlert(QProcess& app) { return waitForNamed(app, "Cuewright"); }
    bool waitGone(QProcess& app, Window window) {
        return waitFor(app, [&] {
            XWindowAttributes a;
            return !XGetWindowAttributes(display, window, &a) || a.map_state != IsViewable;
        });
    }
    // Return on the alert `window`, until it is gone.
    bool dismiss(QProcess& app, Window window) {
        return activate(window) && xdotool({"key", "Return"}) && waitGone(app, window);
    }

    // The remote control on for the next start, on a port the system gives it: one chosen here
    // could be taken by anyone before the application binds it.
    void enableRemote() {
        setDefault(cw::settings::isBonjourEnabled, true);
        setDefault(cw::settings::bonjourKey, 0);
    }
    // The port `app`'s remote control answers on, found among its sockets; none when it never did.
    std::optional<std::uint16_t> waitForRemote(QProcess& app) {
        std::optional<std::uint16_t> port;
        waitFor(app, [&] {
            for (const std::uint16_t candidate : udpPorts(app.processId())) {
                if (!remoteStatusReply(candidate).empty()) {
                    port = candidate;
                    return true;
                }
            }
            return false;
        });
        return port;
    }

    // Starts the application on `script` with its remote control on, into `app`: its editor
    // window and the port its remote control answers on; a fatal failure when either never came.
    void startWithRemote(const std::filesystem::path& script, QProcess*& app, std::optional<Window>& editor,
                         std::uint16_t& port) {
        enableRemote();
        app = &start({pathArg(script)});
        editor = waitForNamed(*app, script.filename().string());
        ASSERT_TRUE(editor) << "no editor window";
        const std::optional<std::uint16_t> answering = waitForRemote(*app);
        ASSERT_TRUE(answering) << "the remote control never answered";
        port = *answering;
    }

    // Quits with Ctrl+Q from `window`: whether the application ended by itself with status 0.
    bool quit(QProcess& app, Window window) {
        return activate(window) && xdotool({"key", "ctrl+q"}) && app.waitForFinished(60000) &&
               app.exitStatus() == QProcess::NormalExit && app.exitCode() == 0;
    }

    Display* display = nullptr;
    Window root = 0;
    std::filesystem::path work;
    QProcessEnvironment environment;
    std::vector<std::unique_ptr<QProcess>> apps;

private:
    bool usesXdotool_;
};

} // namespace endtoend
