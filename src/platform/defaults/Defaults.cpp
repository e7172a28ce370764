#include "platform/defaults/Defaults.h"

#include "base/Log.h"
#include "dispatch/Queue.h"
#include "platform/defaults/ValueCoding.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <limits>
#include <mutex>
#include <sstream>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace platform {

namespace {

std::string errnoText(int err) {
    return std::strerror(err);
}

bool writeAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

void syncDirectory(const fs::path& dir) {
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    (void)::fsync(fd); // makes the rename durable; the file is complete either way
    ::close(fd);
}

// Writes `bytes` to a temporary file beside `target`, syncs it and renames it over `target`.
// On any failure the temporary file is removed and `target` is left as it was.
bool writeAtomically(const fs::path& target, const std::string& bytes,
                     const std::function<bool(const fs::path&)>& beforeRename) {
    const fs::path dir = target.parent_path().empty() ? fs::path(".") : target.parent_path();
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) {
        base::log("could not create the settings folder " + dir.string() + ": " + ec.message());
        return false;
    }
    std::string pattern = (dir / (target.filename().string() + ".tmp-XXXXXX")).string();
    int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) {
        base::log("could not save the settings to " + target.string() + ": " + errnoText(errno));
        return false;
    }
    const fs::path temporary(pattern);
    auto fail = [&](const std::string& why) {
        ::unlink(temporary.c_str());
        base::log("could not save the settings to " + target.string() + ": " + why);
        return false;
    };
    // Keep the permissions the user gave the file (a private 0600 stays private).
    struct stat existing {};
    const mode_t mode = ::stat(target.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : 0644;
    if (::fchmod(fd, mode) != 0 || !writeAll(fd, bytes) || ::fsync(fd) != 0) {
        const int err = errno;
        ::close(fd);
        return fail(errnoText(err));
    }
    if (::close(fd) != 0) {
        return fail(errnoText(errno));
    }
    if (beforeRename && !beforeRename(temporary)) {
        return fail("interrupted before the file was replaced");
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        return fail(errnoText(errno));
    }
    syncDirectory(dir);
    return true;
}

std::string timestampForFileName() {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y%m%d-%H%M%S", &tm);
    return buf;
}

// A free name for the damaged file beside the original: never replaces an earlier one.
fs::path asidePath(const fs::path& file) {
    const std::string base = file.string() + ".damaged-" + timestampForFileName();
    fs::path candidate(base);
    std::error_code ec;
    for (int n = 2; fs::exists(candidate, ec) || ec; ++n) {
        candidate = fs::path(base + "-" + std::to_string(n));
    }
    return candidate;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

// The leading number of a string (after white space), as the platform's string conversions
// read it; 0 when there is none.
double leadingNumber(const std::string& s) {
    const char* begin = s.c_str();
    char* end = nullptr;
    double d = std::strtod(begin, &end);
    if (end == begin || std::isnan(d)) {
        return 0.0;
    }
    return d;
}

std::int64_t truncateToInteger(double d) {
    if (std::isnan(d)) {
        return 0;
    }
    if (d >= 9.2233720368547758e18) {
        return std::numeric_limits<std::int64_t>::max();
    }
    if (d <= -9.2233720368547758e18) {
        return std::numeric_limits<std::int64_t>::min();
    }
    return static_cast<std::int64_t>(d);
}

std::optional<double> numberOf(const Value& v) {
    if (const auto* b = v.boolean()) {
        return *b ? 1.0 : 0.0;
    }
    if (const auto* i = v.integer()) {
        return static_cast<double>(*i);
    }
    if (const auto* d = v.real()) {
        return *d;
    }
    if (const auto* f = v.floating()) {
        return static_cast<double>(*f);
    }
    if (const auto* s = v.string()) {
        return leadingNumber(*s);
    }
    return std::nullopt;
}

template <class T> std::string shortestText(T value) {
    char buf[64];
    auto result = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, result.ptr);
}

} // namespace

struct Defaults::Impl : std::enable_shared_from_this<Defaults::Impl> {
    explicit Impl(Options o)
        : options(std::move(o))
        , queue(dispatch::Queue::makeSerial("Cuewright.defaults")) {}

    Options options;
    std::filesystem::path writeTarget{options.file};
    dispatch::QueuePtr queue;

    mutable std::mutex mutex; // guards the fields below
    Dictionary registered;
    Dictionary persistent;
    std::uint64_t changeCount = 0;
    std::uint64_t savedCount = 0;
    bool saveScheduled = false;
    bool fileWritable = true; // false when the file on disk must not be replaced

    std::mutex writeMutex; // one save at a time, so an older snapshot never lands last

    std::optional<Value> lookup(std::string_view key) const {
        std::lock_guard lock(mutex);
        if (auto it = persistent.find(key); it != persistent.end()) {
            return it->second;
        }
        if (auto it = registered.find(key); it != registered.end()) {
            return it->second;
        }
        return std::nullopt;
    }

    void load();
    void setAside(const std::string& why);
    void changed();
    bool save();
};

void Defaults::Impl::load() {
    const fs::path& file = options.file;
    std::error_code ec;
    const auto status = fs::status(file, ec);
    if (status.type() == fs::file_type::not_found) {
        return;
    }
    if (ec || status.type() != fs::file_type::regular) {
        fileWritable = false;
        base::log("could not read the settings file " + file.string() + ": " +
                  (ec ? ec.message() : std::string("not a regular file")) + "; settings will not be saved");
        return;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        fileWritable = false;
        base::log("could not read the settings file " + file.string() + ": " + errnoText(errno) +
                  "; settings will not be saved");
        return;
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (in.bad()) {
        fileWritable = false;
        base::log("could not read the settings file " + file.string() + "; settings will not be saved");
        return;
    }
    std::string why;
    auto values = decodeDefaultsFile(buffer.str(), &why);
    if (!values) {
        setAside(why);
        return;
    }
    persistent = std::move(*values);
    if (fs::is_symlink(fs::symlink_status(file, ec))) {
        // Saving replaces the file the link points to, so a linked settings file stays linked.
        if (auto target = fs::canonical(file, ec); !ec) {
            writeTarget = target;
        }
    }
}

void Defaults::Impl::setAside(const std::string& why) {
    const fs::path& file = options.file;
    const fs::path aside = asidePath(file);
    if (::rename(file.c_str(), aside.c_str()) != 0) {
        fileWritable = false;
        base::log("the settings file " + file.string() + " is damaged (" + why +
                  ") and could not be moved aside (" + errnoText(errno) +
                  "); starting from the defaults, settings will not be saved");
        return;
    }
    base::log("the settings file " + file.string() + " is damaged (" + why + "); moved it to " +
              aside.string() + " and starting from the defaults");
}

void Defaults::Impl::changed() {
    ++changeCount;
    if (saveScheduled) {
        return;
    }
    saveScheduled = true;
    queue->asyncAfter(options.saveDelay, [weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->save();
        }
    });
}

bool Defaults::Impl::save() {
    std::lock_guard writing(writeMutex);
    Dictionary snapshot;
    std::uint64_t count = 0;
    {
        std::lock_guard lock(mutex);
        saveScheduled = false;
        if (changeCount == savedCount) {
            return true;
        }
        if (!fileWritable) {
            return false;
        }
        snapshot = persistent;
        count = changeCount;
    }
    if (!writeAtomically(writeTarget, encodeDefaultsFile(snapshot), options.beforeRename)) {
        return false;
    }
    std::lock_guard lock(mutex);
    savedCount = count;
    return savedCount == changeCount;
}

Defaults::Defaults(Options options)
    : impl_(std::make_shared<Impl>(std::move(options))) {
    impl_->load();
}

Defaults::~Defaults() {
    impl_->save();
}

Defaults& Defaults::standard() {
    static Defaults* store = [] {
        Options options;
        options.file = defaultFilePath();
        auto* d = new Defaults(std::move(options)); // never destroyed: used until exit
        std::atexit([] { standard().synchronize(); });
        return d;
    }();
    return *store;
}

fs::path Defaults::defaultFilePath() {
    if (const char* file = std::getenv("CUEWRIGHT_DEFAULTS_FILE"); file && *file) {
        return fs::path(file);
    }
    fs::path config;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') {
        config = xdg;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        config = fs::path(home) / ".config";
    } else if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) {
        config = fs::path(pw->pw_dir) / ".config";
    } else {
        config = fs::temp_directory_path();
    }
    return config / "Cuewright" / "defaults.json";
}

const fs::path& Defaults::filePath() const {
    return impl_->options.file;
}

void Defaults::registerDefaults(const Dictionary& values) {
    std::lock_guard lock(impl_->mutex);
    for (const auto& [key, value] : values) {
        impl_->registered.insert_or_assign(key, value);
    }
}

std::optional<Value> Defaults::object(std::string_view key) const {
    return impl_->lookup(key);
}

std::optional<Value> Defaults::persistentObject(std::string_view key) const {
    std::lock_guard lock(impl_->mutex);
    if (auto it = impl_->persistent.find(key); it != impl_->persistent.end()) {
        return it->second;
    }
    return std::nullopt;
}

bool Defaults::boolForKey(std::string_view key) const {
    auto v = impl_->lookup(key);
    if (!v) {
        return false;
    }
    if (const auto* s = v->string()) {
        for (std::string_view yes : {"yes", "true", "y", "t"}) {
            if (equalsIgnoringCase(*s, yes)) {
                return true;
            }
        }
        return leadingNumber(*s) != 0.0;
    }
    auto n = numberOf(*v);
    return n && *n != 0.0;
}

std::int64_t Defaults::integerForKey(std::string_view key) const {
    auto v = impl_->lookup(key);
    if (!v) {
        return 0;
    }
    if (const auto* i = v->integer()) {
        return *i; // exact, also beyond a double's 53 bits
    }
    auto n = numberOf(*v);
    return n ? truncateToInteger(*n) : 0;
}

double Defaults::doubleForKey(std::string_view key) const {
    auto v = impl_->lookup(key);
    if (!v) {
        return 0.0;
    }
    return numberOf(*v).value_or(0.0);
}

float Defaults::floatForKey(std::string_view key) const {
    auto v = impl_->lookup(key);
    if (!v) {
        return 0.0f;
    }
    if (const auto* f = v->floating()) {
        return *f;
    }
    return static_cast<float>(numberOf(*v).value_or(0.0));
}

std::optional<std::string> Defaults::stringForKey(std::string_view key) const {
    auto v = impl_->lookup(key);
    if (!v) {
        return std::nullopt;
    }
    if (const auto* s = v->string()) {
        return *s;
    }
    if (const auto* b = v->boolean()) {
        return std::string(*b ? "1" : "0");
    }
    if (const auto* i = v->integer()) {
        return std::to_string(*i);
    }
    if (const auto* d = v->real()) {
        return shortestText(*d);
    }
    if (const auto* f = v->floating()) {
        return shortestText(*f);
    }
    return std::nullopt;
}

std::optional<Data> Defaults::dataForKey(std::string_view key) const {
    auto v = impl_->lookup(key);
    if (!v || !v->data()) {
        return std::nullopt;
    }
    return *v->data();
}

std::optional<Array> Defaults::arrayForKey(std::string_view key) const {
    auto v = impl_->lookup(key);
    if (!v || !v->array()) {
        return std::nullopt;
    }
    return *v->array();
}

std::optional<Dictionary> Defaults::dictionaryForKey(std::string_view key) const {
    auto v = impl_->lookup(key);
    if (!v || !v->dictionary()) {
        return std::nullopt;
    }
    return *v->dictionary();
}

void Defaults::set(std::string_view key, Value value) {
    std::lock_guard lock(impl_->mutex);
    auto it = impl_->persistent.find(key);
    if (it != impl_->persistent.end() && it->second == value) {
        return;
    }
    impl_->persistent.insert_or_assign(std::string(key), std::move(value));
    impl_->changed();
}

void Defaults::removeObject(std::string_view key) {
    std::lock_guard lock(impl_->mutex);
    auto it = impl_->persistent.find(key);
    if (it == impl_->persistent.end()) {
        return;
    }
    impl_->persistent.erase(it);
    impl_->changed();
}

bool Defaults::synchronize() {
    return impl_->save();
}

} // namespace platform
