// Linked into every test program: before main, the process gets folders of its own for the
// settings file, the application's data and the XDG homes, so that runs side by side (ctest -j,
// repeats, two builds) never meet in a shared file and nothing reaches the user's own settings.
// The folder goes when the process ends normally; a crashed run leaves it in the temp folder.
// It also leaves the desktop it was started from: a display or bus of the shell's own is dropped
// (a bus address points nowhere), unless the script that started the test made it and says so in
// CW_TEST_PROVIDES, so the tests pass alike from CI and from a desktop terminal.
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace {

class PrivateTestFolders {
public:
    PrivateTestFolders() {
        std::error_code ec;
        std::string pattern = (std::filesystem::temp_directory_path(ec) / "cw-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            return; // the inherited environment stays; the tests say what fails
        }
        root_ = pattern;
        const auto folder = [&](const char* name) {
            const std::filesystem::path path = root_ / name;
            std::filesystem::create_directories(path, ec);
            ::chmod(path.c_str(), 0700);
            return path.string();
        };
        ::setenv("CUEWRIGHT_DEFAULTS_FILE", (root_ / "defaults.json").c_str(), 1);
        ::setenv("CUEWRIGHT_DATA_DIR", folder("data").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", folder("config").c_str(), 1);
        ::setenv("XDG_DATA_HOME", folder("share").c_str(), 1);
        ::setenv("XDG_CACHE_HOME", folder("cache").c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", folder("runtime").c_str(), 1);
        ::setenv("CUEWRIGHT_INSTANCE_NAME", ("cuewright-test-" + std::to_string(::getpid())).c_str(), 1);
        owner_ = ::getpid();
        leaveTheDesktop();
    }
    ~PrivateTestFolders() {
        // A forked child that returns through exit() must not take its parent's folder away.
        if (!root_.empty() && ::getpid() == owner_) {
            std::error_code ec;
            std::filesystem::remove_all(root_, ec);
        }
    }
    PrivateTestFolders(const PrivateTestFolders&) = delete;
    PrivateTestFolders& operator=(const PrivateTestFolders&) = delete;

private:
    void leaveTheDesktop() const {
        const char* provided = std::getenv("CW_TEST_PROVIDES");
        const std::string ours = provided != nullptr ? provided : "";
        const auto isOurs = [&](const std::string& name) {
            std::istringstream words(ours);
            std::string word;
            while (words >> word) {
                if (word == name) {
                    return true;
                }
            }
            return false;
        };
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
            if (!isOurs(name)) {
                ::unsetenv(name);
            }
        }
        // An unset session bus would be looked for through the display; a dead address is not.
        const std::string nowhere = "unix:path=" + (root_ / "no-bus").string();
        for (const char* name : {"DBUS_SESSION_BUS_ADDRESS", "DBUS_SYSTEM_BUS_ADDRESS"}) {
            if (!isOurs(name)) {
                ::setenv(name, nowhere.c_str(), 1);
            }
        }
    }

    std::filesystem::path root_;
    pid_t owner_ = 0;
};

// Constructed before main and before any test's own static objects read the environment.
[[maybe_unused]] const PrivateTestFolders folders __attribute__((init_priority(101)));

} // namespace
