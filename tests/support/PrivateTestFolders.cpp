// Linked into every test program: before main, the process gets folders of its own for the
// settings file, the application's data and the XDG homes, so that runs side by side (ctest -j,
// repeats, two builds) never meet in a shared file and nothing reaches the user's own settings.
// The folder goes when the process ends normally; a crashed run leaves it in the temp folder.
#include <cstdlib>
#include <filesystem>
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
    std::filesystem::path root_;
    pid_t owner_ = 0;
};

// Constructed before main and before any test's own static objects read the environment.
[[maybe_unused]] const PrivateTestFolders folders __attribute__((init_priority(101)));

} // namespace
