// The user-defaults store: registered defaults in memory, the user's values in a JSON file.
#pragma once

#include "platform/defaults/Value.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// A key-value store of settings with two domains:
//  - the registration domain: defaults registered at launch, kept in memory only;
//  - the persistent domain: values the user set, kept in one JSON file
//    ($XDG_CONFIG_HOME/Cuewright/defaults.json, ~/.config when XDG_CONFIG_HOME is unset,
//    CUEWRIGHT_DEFAULTS_FILE when that is set; without a home folder, this user's private
//    temporary folder, see base::privateTemporaryFolder; without that, an empty path: the
//    store then lives in memory for the session).
// A read looks in the persistent domain first, then in the registration domain.
//
// Guarantees:
//  - Typed reads never fail; they convert as the platform's store does and answer an absent
//    (or unconvertible) key with false, 0, 0.0 or nullopt.
//  - Writes land in memory at once and reach the file shortly after on a private serial queue,
//    several writes in one save. `synchronize` saves at once; the application calls it at quit,
//    and destroying a store saves what is pending.
//  - Saving is atomic: a temporary file beside the target is written, fsync'ed and renamed over
//    it, so the file on disk is always either the previous or the new complete version.
//  - Several processes may share the file. A save takes an flock on "defaults.json.lock" beside
//    it, reads the file and writes back only the keys this store set or removed since its last
//    save; keys other processes saved meanwhile stay (this store's reads do not see them until
//    it is made again). Temporary files of writers killed mid-save are removed when a store is
//    made.
//  - A file that cannot be parsed (or is larger than any settings file) is renamed aside
//    ("defaults.json.damaged-<time>") with a log line, and the store starts from the registered
//    defaults. A file of which only some values cannot be read (an unknown tag, a string longer
//    than any setting's) keeps the rest: a copy of it as it was goes aside, those keys read as
//    their defaults and the next save leaves them out. resetAtLoad() tells what was reset. When it cannot be
//    set aside (or cannot be read at all) the store keeps working in memory and never writes over it.
//  - Every method is thread-safe.
class Defaults {
public:
    struct Options {
        std::filesystem::path file;
        // How long after a write the save runs, so that a burst of writes is one save.
        std::chrono::milliseconds saveDelay{200};
        // Called with the temporary file's path after it was written and synced, just before
        // the rename; answering false abandons the save there (tests inject failures with it).
        std::function<bool(const std::filesystem::path& temporaryFile)> beforeRename;
    };

    explicit Defaults(Options options);
    ~Defaults();
    Defaults(const Defaults&) = delete;
    Defaults& operator=(const Defaults&) = delete;

    // The application's store at defaultFilePath(). Created on first use, lives until exit
    // (pending writes are saved at exit as well).
    static Defaults& standard();

    // Where the application's store lives (see the class comment).
    static std::filesystem::path defaultFilePath();

    const std::filesystem::path& filePath() const;

    // What loading the file could not keep: every value (`all`, a damaged file) or those of
    // `keys`. Nothing when the file read well, or there was none.
    struct Reset {
        bool all = false;
        std::vector<std::string> keys;
        // Where the file as it was is kept; empty when it could not be kept.
        std::filesystem::path keptAs;
        bool any() const { return all || !keys.empty(); }
    };
    Reset resetAtLoad() const;

    // Called when saving starts to fail (full disk, read-only folder, file-size limit, a file
    // that must not be replaced), with why in the user's words; once, until a save goes through
    // again. It runs on the thread that saved (the store's queue, or the caller of synchronize),
    // without the store's lock held. The writes stay pending and go with the next save.
    void setSaveFailureHandler(std::function<void(const std::string& why)> handler);

    // Merges `values` into the registration domain (later registrations replace earlier ones
    // key by key). Registered values are never written to the file. A user's value of a kind the
    // setting cannot hold (a number for bytes, text that is no number for a number) is reset as an
    // unreadable one is: it joins resetAtLoad(), the file as it was is kept aside and the key
    // reads as its default.
    void registerDefaults(const Dictionary& values);

    // The value the key reads as, from either domain.
    std::optional<Value> object(std::string_view key) const;
    // The value the user set, ignoring registered defaults.
    std::optional<Value> persistentObject(std::string_view key) const;

    // Numbers convert among themselves (integers truncate toward zero, Booleans are 1 or 0);
    // strings are parsed ("YES"/"true" or a number for Booleans; a leading number otherwise).
    bool boolForKey(std::string_view key) const;
    std::int64_t integerForKey(std::string_view key) const;
    double doubleForKey(std::string_view key) const;
    float floatForKey(std::string_view key) const;
    // Strings as they are, numbers in their textual form; other kinds give nullopt.
    std::optional<std::string> stringForKey(std::string_view key) const;
    std::optional<Data> dataForKey(std::string_view key) const;
    std::optional<Array> arrayForKey(std::string_view key) const;
    std::optional<Dictionary> dictionaryForKey(std::string_view key) const;

    // Stores a value in the persistent domain and schedules a save. A string longer than any
    // setting's (kMaxSettingStringBytes) is cut, with a log line.
    void set(std::string_view key, Value value);
    // Removes the user's value, so the key reads as its registered default again.
    void removeObject(std::string_view key);

    // Saves pending writes now, on the calling thread. Returns true when the file holds every
    // write made so far (also when there was nothing to save).
    bool synchronize();

    struct Impl;

private:
    std::shared_ptr<Impl> impl_;
};

} // namespace platform
