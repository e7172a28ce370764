// One running Cuewright per user: a second start hands its files to the first and ends.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class QLocalServer;

namespace cw {

// The first instance listens on a local socket named after the user; a later one connects,
// writes its paths (one per line, UTF-8; none asks the running one to come forward) and exits.
// A socket left behind by a crashed instance is replaced. Main thread only.
class SingleInstance final : public QObject {
    Q_OBJECT

public:
    // Called in the running instance with the paths a later one handed over (empty: come forward).
    using Handler = std::function<void(const QStringList& paths)>;

    // `name` of the local socket; defaultName() in the application, a unique one in tests.
    explicit SingleInstance(QString name, QObject* parent = nullptr);
    ~SingleInstance() override;
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // "cuewright-" and the user's name.
    static QString defaultName();

    // Hands the paths to a running instance; true when one took them (this process should end).
    bool handOff(const QStringList& paths, int timeoutMs = 1000) const;
    // Becomes the running instance; false when the socket cannot be made.
    bool listen(Handler handler);

private:
    void readConnection();

    QString name_;
    QLocalServer* server_ = nullptr;
    Handler handler_;
};

} // namespace cw
