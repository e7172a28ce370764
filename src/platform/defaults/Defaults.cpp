#include "platform/defaults/Defaults.h"

#include "base/AtomicFile.h"
#include "base/Log.h"
#include "base/PrivateFolder.h"
#include "dispatch/Queue.h"
#include "platform/defaults/ValueCoding.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <limits>
#include <map>
#include <mutex>
#include <sstream>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace platform {

namespace {

std::string errnoText(int err) {
    return std::strerror(err);
}

fs::path folderOf(const fs::path& target) {
    return target.parent_path().empty() ? fs::path(".") : target.parent_path();
}

// Temporary files are "<name>.tmp-<writer's pid>-<random>".
std::string temporaryStem(const fs::path& target) {
    return target.filename().string() + ".tmp-";
}

// An exclusive flock on "<name>.lock" beside the settings file, held while alive. Every
// process saving the file takes it, so a save reads, merges and replaces the file alone. When
// it cannot be had (no lock file, a file system without flock, or another holder and `wait`
// is false) `held` is false and the caller goes on without it.
class SettingsLock {
public:
    enum class Wait { yes, no };
    explicit SettingsLock(const fs::path& target, Wait wait = Wait::yes) {
        const fs::path lockFile = target.string() + ".lock";
        fd_ = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ < 0) {
            return;
        }
        int rc = 0;
        do {
            rc = ::flock(fd_, wait == Wait::yes ? LOCK_EX : LOCK_EX | LOCK_NB);
        } while (rc != 0 && errno == EINTR);
        if (rc != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~SettingsLock() {
        if (fd_ >= 0) {
            ::close(fd_); // releases the lock
        }
    }
    SettingsLock(const SettingsLock&) = delete;
    SettingsLock& operator=(const SettingsLock&) = delete;
    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// Removes the temporary files of writers killed in the middle of a save. Writers make them
// only under the lock, so with the lock held every one is stale; while another process holds
// it (saving now: never waited for at start-up), those whose writer's process is gone are.
void removeStaleTemporaryFiles(const fs::path& target) {
    const std::string prefix = temporaryStem(target);
    std::vector<fs::path> found;
    std::error_code ec;
    for (fs::directory_iterator it(folderOf(target), ec), end; !ec && it != end; it.increment(ec)) {
        if (it->path().filename().string().starts_with(prefix)) {
            found.push_back(it->path());
        }
    }
    if (found.empty()) {
        return; // the usual case: no lock file is made for nothing
    }
    const SettingsLock lock(target, SettingsLock::Wait::no);
    for (const fs::path& file : found) {
        const std::string suffix = file.filename().string().substr(prefix.size());
        if (!lock.held() && base::temporaryFileWriterMayBeAlive(suffix)) {
            continue;
        }
        if (fs::remove(file, ec)) {
            base::log("removed " + file.string() + ", left behind by an interrupted save of the settings");
        }
    }
}

// Replaces `target` with `bytes` through a temporary file beside it, named after this process
// so that stale ones can be told apart; logs a failure, which leaves `target` as it was.
bool writeAtomically(const fs::path& target, const std::string& bytes,
                     const base::BeforeReplaceHook& beforeRename, std::string& why) {
    try {
        // The user's settings are theirs alone, like the rest of their configuration folder.
        base::writeFileAtomically(target, bytes,
                                  {base::temporaryPrefix(temporaryStem(target)), beforeRename, 0600});
        return true;
    } catch (const std::system_error& e) {
        why = e.code().message();
        base::log("could not save the settings to " + target.string() + ": " + why);
        return false;
    }
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

// What a settings file holds: nothing yet, values (and the keys whose values could not be read),
// or why it could not be used.
struct SettingsFile {
    enum class State { absent, read, damaged, unreadable };
    State state = State::absent;
    Dictionary values;
    std::string why;
    std::vector<std::string> unreadableKeys;
};

// Far beyond what the 57 settings, the recent list and the key bindings take.
constexpr std::uintmax_t kMaxSettingsFileBytes = std::uintmax_t{8} << 20;

SettingsFile refused(SettingsFile::State state, std::string why) {
    SettingsFile file;
    file.state = state;
    file.why = std::move(why);
    return file;
}

SettingsFile readSettingsFile(const fs::path& file) {
    using State = SettingsFile::State;
    std::error_code ec;
    const auto status = fs::status(file, ec);
    if (status.type() == fs::file_type::not_found) {
        return {};
    }
    if (ec || status.type() != fs::file_type::regular) {
        return refused(State::unreadable, ec ? ec.message() : std::string("not a regular file"));
    }
    if (fs::file_size(file, ec) > kMaxSettingsFileBytes && !ec) {
        return refused(State::damaged, "larger than any settings file");
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return refused(State::unreadable, errnoText(errno));
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (in.bad()) {
        return refused(State::unreadable, "read error");
    }
    std::string why;
    std::vector<std::string> unreadable;
    auto values = decodeDefaultsFile(buffer.str(), &why, &unreadable);
    if (!values) {
        return refused(State::damaged, why);
    }
    return {State::read, std::move(*values), {}, std::move(unreadable)};
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

// The keys as a log line names them: the first ten quoted, then how many more.
std::string namedKeys(const std::vector<std::string>& keys) {
    std::string named;
    for (std::size_t i = 0; i < keys.size() && i < 10; ++i) {
        named += (i == 0 ? "\"" : ", \"") + keys[i] + "\"";
    }
    if (keys.size() > 10) {
        named += " and " + std::to_string(keys.size() - 10) + " more";
    }
    return named;
}

// Whether a string reads wholly as a number (white space around it aside).
bool isNumberText(const std::string& s) {
    const char* begin = s.c_str();
    char* end = nullptr;
    const double d = std::strtod(begin, &end);
    if (end == begin || !std::isfinite(d)) {
        return false;
    }
    const std::string_view rest(end, static_cast<std::size_t>(s.c_str() + s.size() - end));
    return std::all_of(rest.begin(), rest.end(),
                       [](char c) { return std::isspace(static_cast<unsigned char>(c)); });
}

// Whether a stored value can stand for a setting registered as `registered`: numbers and Booleans
// stand for each other, as can text that reads wholly as one; bytes, text, lists and tables only
// for their own kind. A colour stored as a number, or a speed as "fast", cannot.
bool isOfKind(const Value& stored, const Value& registered) {
    using Type = Value::Type;
    const auto isNumber = [](Type type) {
        return type == Type::boolean || type == Type::integer || type == Type::real || type == Type::floating;
    };
    if (isNumber(registered.type())) {
        if (const std::string* text = stored.string()) {
            if (registered.type() == Type::boolean) {
                for (std::string_view word : {"yes", "no", "true", "false"}) {
                    if (equalsIgnoringCase(*text, word)) {
                        return true;
                    }
                }
            }
            return isNumberText(*text);
        }
        return isNumber(stored.type());
    }
    return stored.type() == registered.type();
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
    // Keys set or removed since the last save, with the change count of their latest change: a
    // save writes these over what is on disk and leaves every other key as it finds it there.
    using ChangedKeys = std::map<std::string, std::uint64_t, std::less<>>;
    ChangedKeys changedKeys;
    std::uint64_t changeCount = 0;
    std::uint64_t savedCount = 0;
    bool saveScheduled = false;
    bool fileWritable = true;   // false when the file on disk must not be replaced
    std::string notWritableWhy; // why, in the user's words, when it must not
    Defaults::Reset reset;
    std::function<void(const std::string&)> saveFailureHandler;
    bool saveFailing = false; // told the handler; until a save goes through

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
    std::optional<fs::path> setAside(const fs::path& file, const std::string& why,
                                     const std::string& outcome);
    void dropUnreadable(const fs::path& file, const std::vector<std::string>& keys);
    void dropWrongKind(const std::vector<std::string>& keys);
    void changed(std::string_view key);
    bool save();
    bool saveOnce(std::string& why);
    std::optional<Dictionary> mergeWithFile(const Dictionary& snapshot, const ChangedKeys& keys,
                                            std::string& why);
};

void Defaults::Impl::load() {
    const fs::path& file = options.file;
    if (file.empty()) {
        fileWritable = false;
        notWritableWhy = "there is no private folder for them";
        base::log("no private folder for the settings: they are kept in memory for this session");
        return;
    }
    SettingsFile contents = readSettingsFile(file);
    switch (contents.state) {
    case SettingsFile::State::absent:
        break;
    case SettingsFile::State::unreadable:
        fileWritable = false;
        notWritableWhy = "the settings file cannot be read (" + contents.why + ")";
        base::log("could not read the settings file " + file.string() + ": " + contents.why +
                  "; settings will not be saved");
        return;
    case SettingsFile::State::damaged:
        reset.keptAs = setAside(file, contents.why, "starting from the defaults").value_or(fs::path());
        fileWritable = !reset.keptAs.empty();
        notWritableWhy = "the damaged settings file cannot be moved aside";
        reset.all = true;
        break;
    case SettingsFile::State::read:
        persistent = std::move(contents.values);
        dropUnreadable(file, contents.unreadableKeys);
        break;
    }
    std::error_code ec;
    if (fs::is_symlink(fs::symlink_status(file, ec))) {
        // Saving replaces the file the link points to, so a linked settings file stays linked.
        if (auto target = fs::canonical(file, ec); !ec) {
            writeTarget = target;
        }
    }
    removeStaleTemporaryFiles(writeTarget);
}

// Where the file went; none when it cannot be set aside: then it must never be written over.
std::optional<fs::path> Defaults::Impl::setAside(const fs::path& file, const std::string& why,
                                                 const std::string& outcome) {
    const fs::path aside = asidePath(file);
    if (::rename(file.c_str(), aside.c_str()) != 0) {
        base::log("the settings file " + file.string() + " is damaged (" + why +
                  ") and could not be moved aside (" + errnoText(errno) + "); " + outcome +
                  ", settings will not be saved");
        return std::nullopt;
    }
    base::log("the settings file " + file.string() + " is damaged (" + why + "); moved it to " +
              aside.string() + " and " + outcome);
    return aside;
}

// Keeps a copy of the file as the user had it, and has the next save leave out the values of
// `keys`, which read as their defaults meanwhile.
void Defaults::Impl::dropUnreadable(const fs::path& file, const std::vector<std::string>& keys) {
    if (keys.empty()) {
        return;
    }
    reset.keys = keys;
    const fs::path aside = asidePath(file);
    std::error_code ec;
    fs::copy_file(file, aside, ec);
    if (!ec) {
        reset.keptAs = aside;
    }
    base::log("the settings file " + file.string() + " holds values that cannot be read (" + namedKeys(keys) +
              "); they read as their defaults" +
              (ec ? " (the file could not be copied aside: " + ec.message() + ")"
                  : "; the file as it was is kept as " + aside.string()));
    std::lock_guard lock(mutex);
    for (const std::string& key : keys) {
        changed(key);
    }
}

// Values of a kind their setting cannot hold go as unreadable ones do: named among the reset
// keys, the file as it was kept aside (once), read as their defaults and left out of the next save.
void Defaults::Impl::dropWrongKind(const std::vector<std::string>& keys) {
    if (keys.empty()) {
        return;
    }
    std::error_code ec;
    bool keptNow = false;
    {
        std::lock_guard lock(mutex);
        if (reset.keptAs.empty() && fileWritable && fs::exists(options.file, ec)) {
            const fs::path aside = asidePath(options.file);
            fs::copy_file(options.file, aside, ec);
            if (!ec) {
                reset.keptAs = aside;
                keptNow = true;
            }
        }
        for (const std::string& key : keys) {
            persistent.erase(key);
            if (std::find(reset.keys.begin(), reset.keys.end(), key) == reset.keys.end()) {
                reset.keys.push_back(key);
            }
            changed(key);
        }
    }
    base::log("the settings file " + options.file.string() + " holds values of the wrong kind (" +
              namedKeys(keys) + "); they read as their defaults" +
              (keptNow ? "; the file as it was is kept as " + reset.keptAs.string() : std::string()));
}

// Called under `mutex`.
void Defaults::Impl::changed(std::string_view key) {
    ++changeCount;
    if (auto it = changedKeys.find(key); it != changedKeys.end()) {
        it->second = changeCount;
    } else {
        changedKeys.emplace(std::string(key), changeCount);
    }
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

// What the file should hold after this save, read under the lock: the file as it is now
// (another process may have saved its own keys) with `keys` as they stand in `snapshot`, set or
// removed. Without a usable file (none yet, or a damaged one set aside) that is the whole
// snapshot; nullopt when the file must not be written over.
std::optional<Dictionary> Defaults::Impl::mergeWithFile(const Dictionary& snapshot, const ChangedKeys& keys,
                                                        std::string& why) {
    SettingsFile contents = readSettingsFile(writeTarget);
    switch (contents.state) {
    case SettingsFile::State::absent:
        return snapshot;
    case SettingsFile::State::unreadable:
        base::log("could not read the settings file " + writeTarget.string() + ": " + contents.why +
                  "; the settings were not saved");
        why = "the settings file cannot be read (" + contents.why + ")";
        return std::nullopt;
    case SettingsFile::State::damaged:
        if (!setAside(writeTarget, contents.why, "saving this process's settings in its place")) {
            std::lock_guard lock(mutex);
            fileWritable = false;
            notWritableWhy = why = "the damaged settings file cannot be moved aside";
            return std::nullopt;
        }
        return snapshot;
    case SettingsFile::State::read:
        break;
    }
    Dictionary merged = std::move(contents.values);
    for (const auto& [key, count] : keys) {
        if (auto it = snapshot.find(key); it != snapshot.end()) {
            merged.insert_or_assign(key, it->second);
        } else {
            merged.erase(key);
        }
    }
    return merged;
}

// Tells the handler when saving starts to fail, once until a save goes through again.
bool Defaults::Impl::save() {
    std::string why;
    const bool saved = saveOnce(why);
    std::function<void(const std::string&)> tell;
    {
        std::lock_guard lock(mutex);
        if (why.empty()) {
            saveFailing = false; // written (a change made meanwhile goes with the next save)
        } else if (!saveFailing) {
            saveFailing = true;
            tell = saveFailureHandler;
        }
    }
    if (tell) {
        tell(why);
    }
    return saved;
}

// False with `why` when the file could not be written; false without it when changes came in
// while it was.
bool Defaults::Impl::saveOnce(std::string& why) {
    std::lock_guard writing(writeMutex);
    Dictionary snapshot;
    ChangedKeys keys;
    std::uint64_t count = 0;
    {
        std::lock_guard lock(mutex);
        saveScheduled = false;
        if (changeCount == savedCount) {
            return true;
        }
        if (!fileWritable) {
            why = notWritableWhy;
            return false;
        }
        snapshot = persistent;
        keys = changedKeys;
        count = changeCount;
    }
    const fs::path folder = folderOf(writeTarget);
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) {
        why = ec.message();
        base::log("could not create the settings folder " + folder.string() + ": " + why);
        return false;
    }
    const SettingsLock lock(writeTarget);
    const auto merged = mergeWithFile(snapshot, keys, why);
    if (!merged || !writeAtomically(writeTarget, encodeDefaultsFile(*merged), options.beforeRename, why)) {
        return false;
    }
    std::lock_guard guard(mutex);
    for (const auto& [key, changedAt] : keys) {
        if (auto it = changedKeys.find(key); it != changedKeys.end() && it->second <= count) {
            changedKeys.erase(it); // saved, and not changed again since the snapshot
        }
    }
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
    } else if (auto own = base::privateTemporaryFolder()) {
        // Never a fixed name in the shared temporary folder: another user could plant it.
        config = *own;
    } else {
        return {};
    }
    return config / "Cuewright" / "defaults.json";
}

const fs::path& Defaults::filePath() const {
    return impl_->options.file;
}

void Defaults::setSaveFailureHandler(std::function<void(const std::string& why)> handler) {
    std::lock_guard lock(impl_->mutex);
    impl_->saveFailureHandler = std::move(handler);
}

Defaults::Reset Defaults::resetAtLoad() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->reset;
}

void Defaults::registerDefaults(const Dictionary& values) {
    std::vector<std::string> wrongKind;
    {
        std::lock_guard lock(impl_->mutex);
        for (const auto& [key, value] : values) {
            impl_->registered.insert_or_assign(key, value);
            if (auto it = impl_->persistent.find(key);
                it != impl_->persistent.end() && !isOfKind(it->second, value)) {
                wrongKind.push_back(key);
            }
        }
    }
    impl_->dropWrongKind(wrongKind);
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
    if (const std::string* text = value.string(); text && text->size() > kMaxSettingStringBytes) {
        // No setting is this long, and a file holding it would not read back: cut at a character.
        std::size_t end = kMaxSettingStringBytes;
        while (end > 0 && (static_cast<unsigned char>((*text)[end]) & 0xC0) == 0x80) {
            --end;
        }
        base::log("the setting \"" + std::string(key.substr(0, kMaxSettingKeyBytes)) + "\" is cut to " +
                  std::to_string(end) + " of its " + std::to_string(text->size()) + " bytes");
        value = Value(text->substr(0, end));
    }
    std::lock_guard lock(impl_->mutex);
    auto it = impl_->persistent.find(key);
    if (it != impl_->persistent.end() && it->second == value) {
        return;
    }
    impl_->persistent.insert_or_assign(std::string(key), std::move(value));
    impl_->changed(key);
}

void Defaults::removeObject(std::string_view key) {
    std::lock_guard lock(impl_->mutex);
    auto it = impl_->persistent.find(key);
    if (it == impl_->persistent.end()) {
        return;
    }
    impl_->persistent.erase(it);
    impl_->changed(key);
}

bool Defaults::synchronize() {
    return impl_->save();
}

} // namespace platform
