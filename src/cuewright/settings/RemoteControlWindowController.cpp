#include "cuewright/settings/RemoteControlWindowController.h"

#include "base/Log.h"
#include "cuewright/model/TimeFormat.h"
#include "cuewright/remote/BonjourServer.h"
#include "cuewright/settings/NetworkNames.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <array>
#include <cmath>

namespace cw {

namespace {

constexpr std::array<std::string_view, 3> columns = {"Name", "Address", "Port"};

QString timestamp(double seconds) {
    return QString::fromStdString(formatTimestamp(seconds));
}

// A script's name or a reason from the network may be any length: shown cut short in the middle
// (the end says whether it plays), it asks the window for no width.
class MiddleElidedLabel final : public QLabel {
public:
    using QLabel::QLabel;
    QSize minimumSizeHint() const override { return {0, QLabel::minimumSizeHint().height()}; }
    QSize sizeHint() const override { return minimumSizeHint(); }

protected:
    void paintEvent(QPaintEvent*) override {
        const QRect box = contentsRect();
        QPainter(this).drawText(box, int(alignment()),
                                fontMetrics().elidedText(text(), Qt::ElideMiddle, box.width()));
    }
};

} // namespace

RemoteControlWindowController::RemoteControlWindowController(Workspace* workspace,
                                                             std::shared_ptr<RemoteControlClient> client,
                                                             QObject* parent)
    : platform::WindowController(parent)
    , workspace_(workspace)
    , client_(client ? std::move(client) : BonjourClient::make()) {
    client_->setDelegate(this);
}

RemoteControlWindowController::~RemoteControlWindowController() {
    client_->setDelegate(nullptr);
    if (timer_) {
        client_->stop();
    }
}

QString RemoteControlWindowController::cellText(std::string_view column, const ServerAddress& server) {
    // Names from the network: shown as they were sent, whatever characters they hold.
    if (column == columns[0]) {
        return visibleNetworkName(QString::fromStdString(server.humanReadableName));
    }
    if (column == columns[1]) {
        return visibleNetworkName(QString::fromStdString(server.hostName));
    }
    if (column == columns[2]) {
        return QString::number(server.port);
    }
    return QStringLiteral("Unknown column");
}

QWidget* RemoteControlWindowController::makeWindow() {
    auto* window = new QWidget;
    window->setWindowTitle(QStringLiteral("Remote Control"));
    tableView_ = new QTableWidget(0, static_cast<int>(columns.size()), window);
    QStringList headers;
    for (const auto column : columns) {
        headers << QString::fromUtf8(column.data(), static_cast<qsizetype>(column.size()));
    }
    tableView_->setHorizontalHeaderLabels(headers);
    tableView_->setSelectionBehavior(QAbstractItemView::SelectRows);
    tableView_->setSelectionMode(QAbstractItemView::SingleSelection);
    tableView_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Tab walking the cells would select the next row's server on its way out.
    tableView_->setTabKeyNavigation(false);
    tableView_->verticalHeader()->hide();
    tableView_->horizontalHeader()->setStretchLastSection(true);
    // Why no copy can be found, while that is so.
    discoveryLabel_ = new QLabel(window);
    discoveryLabel_->setTextFormat(Qt::PlainText);
    discoveryLabel_->setWordWrap(true);
    discoveryLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    discoveryLabel_->hide();
    statusLabel_ = new MiddleElidedLabel(window);
    timestampLabel_ = new QLabel(window);
    // Both show what another host sent: never read as markup.
    for (QLabel* label : {statusLabel_, timestampLabel_}) {
        label->setTextFormat(Qt::PlainText);
    }
    // Made in the order they stand, which is the order Tab takes.
    rewindButton_ = new QPushButton(QStringLiteral("Rewind"), window);
    playPauseButton_ = new QPushButton(window);
    speedSlider_ = new QSlider(Qt::Horizontal, window);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(rewindButton_);
    buttons->addWidget(playPauseButton_);
    buttons->addWidget(speedSlider_, 1);
    auto* layout = new QVBoxLayout(window);
    layout->addWidget(tableView_, 1);
    layout->addWidget(discoveryLabel_);
    layout->addWidget(statusLabel_);
    layout->addWidget(timestampLabel_);
    layout->addLayout(buttons);
    window->resize(480, 360);

    connect(tableView_, &QTableWidget::itemSelectionChanged, this, [this] { tableViewSelectionDidChange(); });
    connect(playPauseButton_, &QPushButton::clicked, this, [this] { playPause(); });
    connect(rewindButton_, &QPushButton::clicked, this, [this] { rewind(); });
    connect(speedSlider_, &QSlider::valueChanged, this, [this] {
        if (!updatingControls_) {
            changeSpeed();
        }
    });
    showDisconnected(QStringLiteral("Not Connected."), 1, 100);
    return window;
}

void RemoteControlWindowController::windowDidLoad() {
    keepInWorkArea();
    setControlsEnabled(false);
    try {
        client_->start();
        timer_ = new QTimer(this);
        connect(timer_, &QTimer::timeout, this, [this] {
            showDiscoveryState();
            requestStatus();
        });
        timer_->start(statusIntervalMs);
        showDiscoveryState();
    } catch (const std::exception& error) {
        base::log(std::string("can't discover: ") + error.what());
        showDiscoveryProblem(QString::fromStdString(error.what()));
    }
    updateWindowAppearance();
    registerForAppearanceChanges();
}

void RemoteControlWindowController::windowWillClose() {
    unregisterForAppearanceChanges();
    if (timer_) {
        timer_->stop();
        delete timer_;
    }
    client_->stop();
}

bool RemoteControlWindowController::isPolling() const {
    return timer_ && timer_->isActive();
}

std::optional<ServerAddress> RemoteControlWindowController::selectedServer() const {
    if (tableView_ == nullptr) {
        return std::nullopt;
    }
    const auto rows = tableView_->selectionModel()->selectedRows();
    if (rows.isEmpty()) {
        return std::nullopt;
    }
    const auto row = static_cast<size_t>(rows.first().row());
    return row < availableServers_.size() ? std::optional(availableServers_[row]) : std::nullopt;
}

bool RemoteControlWindowController::isFromSelectedServer(const sockets::Address& from) const {
    const auto server = selectedServer();
    return server && isFromServer(*server, from);
}

bool RemoteControlWindowController::bonjourClientExpectsReplyFrom(RemoteControlClient&,
                                                                  const sockets::Address& from) {
    return isFromSelectedServer(from);
}

void RemoteControlWindowController::send(const NetworkCommand::Command& command) {
    const auto server = selectedServer();
    if (!server) {
        return;
    }
    // A server that does not answer would carry the command out whenever it wakes.
    if (command.kind != NetworkCommand::Kind::reportStatus && !answering_) {
        return;
    }
    try {
        client_->sendCommand(command, *server);
    } catch (const std::exception& error) {
        base::log(std::string("Caughts error when trying to sendCommand: ") + error.what());
    }
}

void RemoteControlWindowController::playPause() {
    send(NetworkCommand::Command::of(transportState_ == TransportState::TransportStatus::playing
                                         ? NetworkCommand::Kind::stopPlayback
                                         : NetworkCommand::Kind::startPlayback));
}

void RemoteControlWindowController::rewind() {
    send(NetworkCommand::Command::of(NetworkCommand::Kind::rewind));
}

void RemoteControlWindowController::changeSpeed() {
    send(NetworkCommand::Command::setScrollSpeed(speedSlider_->value()));
}

void RemoteControlWindowController::showDiscoveryState() {
    const std::optional<std::string> reason = client_->discoveryUnavailableReason();
    showDiscoveryProblem(reason ? QString::fromStdString(*reason) : QString());
}

void RemoteControlWindowController::showDiscoveryProblem(const QString& reason) {
    discoveryLabel_->setVisible(!reason.isEmpty());
    if (!reason.isEmpty())
        discoveryLabel_->setText(tr("Network discovery is not available: %1.").arg(reason));
}

void RemoteControlWindowController::requestStatus() {
    const auto server = selectedServer();
    if (!server) {
        return;
    }
    if (unansweredPolls_ >= unansweredPollsLimit) {
        showNotResponding(*server);
        // Its address may have changed (a new lease, a reconnect).
        if ((unansweredPolls_ - unansweredPollsLimit) % resolveAgainEveryPolls == 0) {
            client_->resolveAgain(*server);
        }
    }
    ++unansweredPolls_;
    send(NetworkCommand::Command::of(NetworkCommand::Kind::reportStatus));
}

void RemoteControlWindowController::showNotResponding(const ServerAddress& server) {
    answering_ = false;
    statusLabel_->setText(tr("“%1” does not respond.")
                              .arg(visibleNetworkName(QString::fromStdString(server.humanReadableName))));
    setControlsEnabled(false);
}

void RemoteControlWindowController::test() {
    send(NetworkCommand::Command::of(NetworkCommand::Kind::stopPlayback));
}

void RemoteControlWindowController::reloadTable() {
    const QSignalBlocker blocker(tableView_);
    tableView_->setRowCount(static_cast<int>(availableServers_.size()));
    // Rows change under the current row: no row stays current or selected by accident.
    tableView_->selectionModel()->clear();
    for (size_t row = 0; row < availableServers_.size(); ++row) {
        for (size_t column = 0; column < columns.size(); ++column) {
            tableView_->setItem(static_cast<int>(row), static_cast<int>(column),
                                new QTableWidgetItem(cellText(columns[column], availableServers_[row])));
        }
    }
}

void RemoteControlWindowController::bonjourClientDidUpdateServers(RemoteControlClient& client) {
    window(); // the table must exist
    const auto selected = selectedServer();
    availableServers_ = client.availableServers();
    reloadTable();
    if (!selected) {
        return;
    }
    // By its service name, which is one server's alone: its address and port may have changed.
    for (size_t row = 0; row < availableServers_.size(); ++row) {
        if (availableServers_[row].humanReadableName == selected->humanReadableName) {
            // The same server: what it last said still holds.
            const QSignalBlocker blocker(tableView_);
            tableView_->selectRow(static_cast<int>(row));
            return;
        }
    }
    // Gone: nothing is selected now, and the controls say so.
    tableViewSelectionDidChange();
}

void RemoteControlWindowController::setSlider(double minimum, double maximum, double value) {
    updatingControls_ = true;
    speedSlider_->setRange(static_cast<int>(std::lround(minimum)), static_cast<int>(std::lround(maximum)));
    speedSlider_->setValue(static_cast<int>(std::lround(value)));
    updatingControls_ = false;
}

void RemoteControlWindowController::bonjourClientDidReceive(RemoteControlClient&,
                                                            const NetworkStatusReport& report,
                                                            const sockets::Address& from) {
    window();
    if (!isFromSelectedServer(from)) {
        return;
    }
    unansweredPolls_ = 0;
    answering_ = true;
    transportState_ = report.transportState;
    const bool playing = transportState_ == TransportState::TransportStatus::playing;
    playPauseButton_->setText(playing ? QStringLiteral("Pause") : QStringLiteral("Play"));
    timestampLabel_->setText(timestamp(report.playbackProgress * report.totalRuntime) +
                             QStringLiteral(" / ") + timestamp(report.totalRuntime));
    statusLabel_->setText(visibleNetworkName(QFileInfo(QString::fromStdString(report.filename)).fileName()) +
                          QStringLiteral(" ") +
                          (playing ? QStringLiteral("is playing") : QStringLiteral("is stopped")));
    const bool finite = std::isfinite(report.maxScrollSpeed) && std::isfinite(report.scrollSpeed);
    setSlider(3.0, finite ? report.maxScrollSpeed : 100.0, finite ? report.scrollSpeed : 31.0);
    setControlsEnabled(true);
}

// The slider too: a step sent to a server that does not answer would be carried out late or never.
void RemoteControlWindowController::setControlsEnabled(bool enabled) {
    rewindButton_->setEnabled(enabled);
    playPauseButton_->setEnabled(enabled);
    speedSlider_->setEnabled(enabled);
}

void RemoteControlWindowController::showDisconnected(const QString& status, double sliderValue,
                                                     double sliderMaximum) {
    answering_ = false;
    statusLabel_->setText(status);
    timestampLabel_->setText(timestamp(0));
    setSlider(3.0, sliderMaximum, sliderValue);
    playPauseButton_->setText(QStringLiteral("Play"));
    setControlsEnabled(false);
}

void RemoteControlWindowController::bonjourClientDidFail(RemoteControlClient&, const std::string& reason,
                                                         const sockets::Address& from) {
    window();
    if (!isFromSelectedServer(from)) {
        return;
    }
    unansweredPolls_ = 0;
    showDisconnected(visibleNetworkName(QString::fromStdString(reason)), 31.0, 100.0);
}

void RemoteControlWindowController::tableViewSelectionDidChange() {
    unansweredPolls_ = 0;
    showDisconnected(QStringLiteral("Not Connected."), 1, 100);
}

} // namespace cw
