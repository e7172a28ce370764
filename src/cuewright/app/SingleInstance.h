// One running Cuewright per user: a second start hands its files to the first and ends.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <sys/types.h>

namespace cw {

// Shared advisory locks (flock, apart from the database's own locks) on the script files this
// copy shows, each held for as long as a window shows it: another copy asks whether one is held
// before it opens a file it does not show itself. A lock outlives a stopped process and ends with
// it, so a copy that crashed keeps nobody from a file. A file replaced by a save is locked again
// by the next hold(). Network file systems are left alone: there a lock of this kind is the
// database's lock, and giving it up would give up the database's. At most maxFiles descriptors.
class ShownFileLocks final {
public:
    static constexpr std::size_t maxFiles = 64;

    ShownFileLocks() = default;
    ~ShownFileLocks();
    ShownFileLocks(const ShownFileLocks&) = delete;
    ShownFileLocks& operator=(const ShownFileLocks&) = delete;

    // Holds a lock on each regular file of `paths` (file system bytes) and on no other.
    void hold(const std::vector<std::string>& paths);
    // Takes the lock on the file at `path` before it is read, unless another copy holds one: of
    // copies claiming one file at the same moment, exactly one has it. Held until a hold() that
    // leaves it out. `mine` when this object holds it already (under any name).
    enum class Claim { taken, mine, heldElsewhere, notLockable };
    Claim claim(const std::string& path);
    // Gives up the lock on `path` (a read that failed).
    void release(const std::string& path);
    // How many files are held.
    std::size_t count() const { return held_.size(); }
    // Whether another open file (another copy) holds a lock on the regular file at `path`. Any thread.
    static bool heldElsewhere(const std::string& path);
    // The same beside this object's own lock, when it holds one: another copy may hold the file
    // too (it showed it when a script was brought back here from a recovery copy).
    bool heldAlsoElsewhere(const std::string& path);

private:
    struct Held {
        int fd = -1;
        dev_t device = 0;
        ino_t inode = 0;
    };
    std::map<std::string, Held> held_;
};

// The first instance listens on a local socket in a folder only the user can reach; a later
// one connects, checks that the listener runs as the same user, writes its working folder and
// its paths (each whole, as the file system spells it, ended by a NUL; none asks the running one
// to come forward) and waits for the running one to say it took them. The running one listens
// and answers on a dispatch queue of its own, as soon as it has the list, and only then hands the
// paths to the main thread: a main thread busy for a while (laying out a large text) neither
// keeps a later start waiting nor lets it start on its own. A list whose sender gave up waiting
// before the answer went out (it has started on its own) is dropped unopened. Relative paths are
// taken from the sender's working folder. A socket left behind by a crashed instance is replaced.
// One whose instance lives but does not answer (stopped, or busy past the wait) is set aside
// under a short name of its own and the new start stands in; while it stands in, it keeps what
// it shows itself and hands every other list on to the instance it stood in for, which opens it
// (or brings forward what it shows) once it answers again: one script is never open in two
// instances. When the stand-in quits it renames that socket back over its own in one step, so
// the instance that was there first receives hand-overs again and at no moment is there no
// socket for a start to find. A stand-in that is itself stood in for and quits passes the socket
// it set aside down into its own place; one that ends without a word (killed) leaves a dead
// socket, and the next start puts the set-aside one back and hands over to it. An instance
// removes only the socket it made itself, never one that replaced it. Sockets are reached
// through a descriptor of their folder, so a folder of any length serves. Starts at the same
// moment take turns: a lock file beside the socket is held from the hand-over that found no
// running instance until the socket listens, and while a quitting instance gives up its place,
// so exactly one of them becomes the running instance and the others hand over to it. Failures
// are logged; the start then goes on as a lone instance. Made, used and destroyed on the main
// thread; the handler runs there.
class SingleInstance final : public QObject {
    Q_OBJECT

public:
    // Called in the running instance with the paths a later one handed over (empty: come forward).
    using Handler = std::function<void(const QStringList& paths)>;
    // Whether this instance shows the file at `path` (or is opening it): asked on the main
    // thread while it stands in, to keep those and hand the others on.
    using Holds = std::function<bool(const QString& path)>;

    // How long a hand-over waits to connect, and then for the running instance's answer.
    static constexpr int defaultTimeoutMs = 2000;

    // `name` of the local socket (see socketPath); defaultName() in the application, a unique
    // one in tests.
    explicit SingleInstance(const QString& name, QObject* parent = nullptr);
    ~SingleInstance() override;
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // "cuewright-" and the user's name.
    static QString defaultName();
    // Where the socket `name` lives: `name` itself when it is an absolute path; otherwise in
    // $XDG_RUNTIME_DIR when that is the user's alone (mode 0700), else in a folder of the user's
    // made so in the temporary folder, else (another user made that one first) in one made so in
    // the user's cache folder, named after this host. Empty (and logged) when there is no such
    // folder.
    static QString socketPath(const QString& name);

    // How long a start waits for another start to finish becoming the running instance.
    static constexpr int lockTimeoutMs = 20000;

    // Hands the paths to a running instance of this user; true when it said it took them (this
    // process should end). False when none listens, the listener is another user's, or no
    // answer comes within `timeoutMs` (logged: this process then starts on its own); the lock
    // is then kept, and other starts wait, until listen() or the end of this object.
    bool handOff(const QStringList& paths, int timeoutMs = defaultTimeoutMs);
    // Becomes the running instance; false (and logged) when the socket cannot be made.
    bool listen(Handler handler, Holds holds = {});
    // Asked on the main thread before a file this instance does not show is opened: whether
    // another copy shows the file at `path` (file system bytes; see ShownFileLocks). Then it is
    // not to be opened here: the person is told, and while this one stands in the path is handed
    // on to the instance it stands in for, which brings it forward once it answers again.
    bool shownElsewhere(const std::string& path);

private:
    struct Listener;

    // Waits for the lock file beside the socket; logged and gone on without when it does not
    // come within lockTimeoutMs (a start that hangs while holding it).
    void lock();
    void unlock();
    bool handOffLocked(const QStringList& paths, int timeoutMs) const;
    bool listenLocked();
    // The name in the folder this instance's socket file has now: its own, or one it was set
    // aside under by a later start; empty when it is gone. The file system's bytes.
    QByteArray currentSocketFile() const;
    // Puts the socket this instance set aside back in its place, or removes its own.
    void leavePlace();
    // When nothing listens at path_ (a stand-in was killed), puts a living instance's socket that
    // was set aside back there and removes those whose instance has ended; true when one was put back.
    bool restoreDisplaced() const;
    // On the main thread: a list handed over, kept or handed on while this one stands in.
    void received(const QStringList& paths);
    // On the main thread: tells that `path` is shown by another copy, which `answers` or not;
    // those told together in one alert.
    void tellShownElsewhere(const QString& path, bool answers);
    // Hands `path` on to the instance stood in for, waiting for its answer until it comes; tells
    // the person first when it does not answer at once (`tried`: it did not a moment ago).
    void handOnWhenAnswered(const QString& path, bool tried);

    QString path_;
    // The socket's folder (its path, and a descriptor open for the life of this object) and the
    // socket's name in it.
    QByteArray folderPath_;
    int folder_ = -1;
    QByteArray name_;
    std::shared_ptr<Listener> listener_; // while listening
    // The socket file this instance made: only that one is removed at the end.
    dev_t device_ = 0;
    ino_t inode_ = 0;
    // The socket of a living instance that did not answer, set aside by listen() under this name
    // in the folder.
    QByteArray displaced_;
    Handler handler_;
    Holds holds_;
    // While a list that the instance stood in for did not take is opened here.
    bool handOnFailed_ = false;
    // Names not told yet, for the alert about to go up, and whether their copy answers.
    QStringList untold_;
    bool untoldAnswers_ = true;
    int lockFd_ = -1;
    bool locked_ = false; // from a hand-over that found no one until listening
};

} // namespace cw
