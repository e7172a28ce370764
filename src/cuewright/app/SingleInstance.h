// One running Cuewright per user: a second start hands its files to the first and ends.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class QLocalServer;

namespace cw {

// The first instance listens on a local socket in a folder only the user can reach; a later
// one connects, checks that the listener runs as the same user, writes its paths (one per line,
// UTF-8; none asks the running one to come forward) and waits for the running one to say it took
// them. A socket left behind by a crashed instance, or held by one that does not answer, is
// replaced. Failures are logged; the start then goes on as a lone instance. Main thread only.
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

    // Hands the paths to a running instance of this user; true when it said it took them (this
    // process should end). False when none listens, the listener is another user's, or no
    // answer comes within `timeoutMs` (logged: this process then starts on its own).
    bool handOff(const QStringList& paths, int timeoutMs = defaultTimeoutMs) const;
    // Becomes the running instance; false (and logged) when the socket cannot be made.
    bool listen(Handler handler);

private:
    void readConnection();

    QString path_;
    QLocalServer* server_ = nullptr;
    Handler handler_;
};

} // namespace cw
