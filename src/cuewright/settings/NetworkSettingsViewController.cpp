#include "cuewright/settings/NetworkSettingsViewController.h"

#include "cuewright/model/SettingsKeys.h"
#include "cuewright/remote/RemoteServerStatus.h"
#include "cuewright/settings/NetworkNames.h"
#include "platform/netservice/NetService.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>

namespace cw {

NetworkSettingsViewController::NetworkSettingsViewController(std::string computerName,
                                                             platform::Defaults& defaults,
                                                             platform::NotificationCenter& center,
                                                             QObject* parent)
    : SettingsPane(HelpPage::settingsRemoteControl, defaults, center, parent)
    , computerName_(std::move(computerName)) {}

std::string NetworkSettingsViewController::bonjourName() const {
    return NetworkSettings::bonjourName(defaults_, computerName_);
}

QWidget* NetworkSettingsViewController::makeView() {
    auto* view = new QWidget;
    SettingsForm form(view, this);
    Controls& c = controls_;
    c.enableRemoteControl = new QCheckBox(tr("Let devices on the network control prompting"), view);
    form.addRow(tr("Remote control"), c.enableRemoteControl);
    // Whether the server runs, and why not or why no controller finds it when it should.
    c.serverStatus = form.addNote(QString());
    // The pane's height is fixed: room for the longest of them (three lines) is kept.
    c.serverStatus->setMinimumHeight(3 * c.serverStatus->fontMetrics().lineSpacing());
    c.serverStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
    c.networkName = new QLineEdit(view);
    c.networkName->setMinimumWidth(260);
    c.networkName->setClearButtonEnabled(true);
    form.addRow(tr("Name"), c.networkName);
    form.addNote(tr("Controllers on the network and over Bluetooth find this copy by its name. "
                    "Leave it empty to use the computer's name."));
    c.port = new QSpinBox(view);
    c.port->setRange(0, 65535);
    c.port->setSpecialValueText(tr("Any free port"));
    form.addRow(tr("Port"), c.port);
    form.addNote(tr("The UDP port controllers reach this copy on. Two copies on one computer need "
                    "two ports."));
    form.addSeparator();
    c.presenterSupport = new QCheckBox(tr("Presentation remotes page through the script"), view);
    form.addRow(tr("Presenters"), c.presenterSupport);
    form.finish();

    connect(c.enableRemoteControl, &QCheckBox::clicked, this,
            &NetworkSettingsViewController::saveNetworkState);
    connect(c.port, &QSpinBox::editingFinished, this, &NetworkSettingsViewController::savePort);
    connect(c.networkName, &QLineEdit::editingFinished, this, [this] {
        if (controls_.networkName->isModified())
            saveNetworkName();
    });
    // Return on the name in use asks for it again: the copy that held it may have let it go.
    // (A changed name is saved, and announced, by editingFinished after this.)
    connect(c.networkName, &QLineEdit::returnPressed, this, [this] {
        if (controls_.enableRemoteControl->isChecked() &&
            controls_.networkName->text().toStdString() == bonjourName() &&
            remoteServerStatus().state == RemoteServerStatus::State::nameInUse)
            center_.post(std::string(networkStateDidChange));
    });
    connect(c.presenterSupport, &QCheckBox::clicked, this, &NetworkSettingsViewController::saveSettings);
    return view;
}

void NetworkSettingsViewController::viewDidLoad() {
    attachToView();
    loadSettings();
    center_.addObserver(this, std::string(remoteServerStatusDidChange),
                        [this](const platform::Notification&) { showServerStatus(); });
}

NetworkSettingsViewController::~NetworkSettingsViewController() {
    center_.removeObserver(this);
}

void NetworkSettingsViewController::showServerStatus() {
    controls_.serverStatus->setText(
        controls().enableRemoteControl->isChecked() ? serverStatusText(remoteServerStatus()) : QString());
}

QString NetworkSettingsViewController::serverStatusText(const RemoteServerStatus& status) {
    using State = RemoteServerStatus::State;
    const QString reason = QString::fromStdString(status.reason);
    const QString unseen = tr("No controller can find this copy: ");
    switch (status.state) {
    case State::off:
        return {};
    case State::announcing:
        return tr("Announcing this copy on the network…");
    case State::running:
        return tr("The remote-control server is running on port %1.").arg(status.port);
    case State::failed:
        // Most often the port is taken (another copy runs): say which, and where to choose another.
        return (status.port != 0 ? tr("The remote-control server is not running on port %1: %2.")
                                       .arg(status.port)
                                       .arg(reason)
                                 : tr("The remote-control server is not running: %1.").arg(reason)) +
               u' ' + tr("Choose another port under Port below.");
    case State::nameInUse:
        return unseen + tr("the name “%1” is already in use on the network. Choose another name.")
                            .arg(visibleNetworkName(reason));
    case State::nameTooLong:
        return unseen + tr("its name is %1 bytes long, and a name on the network holds at most %2 "
                           "(accented and non-Latin letters take two or more). Choose a shorter name.")
                            .arg(status.reason.size())
                            .arg(platform::NetService::maxNameBytes);
    case State::noDiscovery:
        return unseen + tr("network discovery is not available (%1).").arg(reason);
    case State::notAnnounced:
        return unseen + tr("it could not be announced on the network (%1).").arg(reason);
    }
    return {};
}

void NetworkSettingsViewController::viewWillDisappear() {
    if (isViewLoaded())
        saveSettings();
}

void NetworkSettingsViewController::loadSettings() {
    view();
    controls_.enableRemoteControl->setChecked(defaults_.boolForKey(settings::isBonjourEnabled));
    controls_.networkName->setText(QString::fromStdString(bonjourName()));
    controls_.networkName->setModified(false);
    controls_.port->setValue(NetworkSettings::port(defaults_).value_or(0));
    controls_.presenterSupport->setChecked(defaults_.boolForKey(settings::isPresenterSupportEnabled));
    showServerStatus();
}

void NetworkSettingsViewController::saveNetworkState() {
    NetworkSettings::setBonjourEnabled(controls().enableRemoteControl->isChecked(), defaults_, center_);
    showServerStatus();
}

void NetworkSettingsViewController::saveNetworkName() {
    QLineEdit* field = controls().networkName;
    // The name shown, left as it was, is not written: one never typed goes on following the
    // computer's name.
    if (field->text().toStdString() != bonjourName())
        NetworkSettings::setBonjourName(field->text().toStdString(), defaults_, center_, computerName_);
    field->setText(QString::fromStdString(bonjourName()));
    field->setModified(false);
}

void NetworkSettingsViewController::savePort() {
    // The port shown as it was loaded is not written (one stored out of range shows as 0).
    if (controls().port->value() != NetworkSettings::port(defaults_).value_or(0))
        NetworkSettings::setPort(std::uint16_t(controls().port->value()), defaults_, center_);
}

void NetworkSettingsViewController::saveSettings() {
    saveNetworkState();
    saveNetworkName();
    savePort();
    defaults_.set(settings::isPresenterSupportEnabled, controls().presenterSupport->isChecked());
}

} // namespace cw
