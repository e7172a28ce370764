// One running Cuewright per user: a second start hands its files to the first and ends.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

#include <sys/types.h>

namespace cw {

// The first instance listens on a local socket in a folder only the user can reach; a later
// one connects, checks that the listener runs as the same user, writes its working folder and
// its paths (each whole, as the file system spells it, ended by a NUL; none asks the running one
// to come forward) and waits for the running one to say it took them. The running one listens
// and answers on a dispatch queue of its own, as soon as it has the list, and only then hands the
// paths to the main thread: a main thread busy for a while (laying out a large text) neither
// keeps a later start waiting nor lets it start on its own. Relative paths are taken from the
// sender's working folder. A socket left behind by a crashed instance,
// or held by one that does not answer, is replaced; an instance removes only the socket it made
// itself, never one that replaced it. Starts at the same moment take turns: a lock file beside
// the socket is held from the hand-over that found no running instance until the socket
// listens, so exactly one of them becomes the running instance and the others hand over to it.
// Failures are logged; the start then goes on as a lone instance. Made, used and destroyed on
// the main thread; the handler runs there.
class SingleInstance final : public QObject {
    Q_OBJECT

public:
    // Called in the running instance with the paths a later one handed over (empty: come forward).
    using Handler = std::function<void(const QStringList& paths)>;

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
    // made so in the temporary folder. Empty (and logged) when there is no such folder.
    static QString socketPath(const QString& name);

    // How long a start waits for another start to finish becoming the running instance.
    static constexpr int lockTimeoutMs = 20000;

    // Hands the paths to a running instance of this user; true when it said it took them (this
    // process should end). False when none listens, the listener is another user's, or no
    // answer comes within `timeoutMs` (logged: this process then starts on its own); the lock
    // is then kept, and other starts wait, until listen() or the end of this object.
    bool handOff(const QStringList& paths, int timeoutMs = defaultTimeoutMs);
    // Becomes the running instance; false (and logged) when the socket cannot be made.
    bool listen(Handler handler);

private:
    struct Listener;

    // Waits for the lock file beside the socket; logged and gone on without when it does not
    // come within lockTimeoutMs (a start that hangs while holding it).
    void lock();
    void unlock();
    bool handOffLocked(const QStringList& paths, int timeoutMs) const;
    bool listenLocked();

    QString path_;
    std::shared_ptr<Listener> listener_; // while listening
    // The socket file this instance made: only that one is removed at the end.
    dev_t device_ = 0;
    ino_t inode_ = 0;
    Handler handler_;
    int lockFd_ = -1;
    bool locked_ = false; // from a hand-over that found no one until listening
};

} // namespace cw
