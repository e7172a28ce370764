#include "cuewright/settings/NetworkSettingsViewController.h"

#include "cuewright/model/SettingsKeys.h"

#include <QCheckBox>
#include <QLineEdit>

namespace cw {

static constexpr std::string_view kProductName = "Cuewright";

NetworkSettingsViewController::NetworkSettingsViewController(std::string computerName,
                                                             platform::Defaults& defaults,
                                                             platform::NotificationCenter& center,
                                                             QObject* parent)
    : SettingsPane(HelpPage::settingsRemoteControl, defaults, center, parent)
    , computerName_(std::move(computerName)) {}

std::string NetworkSettingsViewController::bonjourName() const {
    const auto stored = defaults_.stringForKey(settings::bonjourName);
    if (!stored)
        return std::string(kProductName);
    if (!stored->empty())
        return *stored;
    return computerName_.empty() ? std::string(kProductName) : computerName_;
}

QWidget* NetworkSettingsViewController::makeView() {
    auto* view = new QWidget;
    SettingsForm form(view, this);
    Controls& c = controls_;
    c.enableRemoteControl = new QCheckBox(tr("Let devices on the network control prompting"), view);
    form.addRow(tr("Remote control"), c.enableRemoteControl);
    c.networkName = new QLineEdit(view);
    c.networkName->setMinimumWidth(260);
    c.networkName->setClearButtonEnabled(true);
    form.addRow(tr("Name"), c.networkName);
    form.addNote(tr("Controllers on the network and over Bluetooth find this copy by its name. "
                    "Leave it empty to use the computer's name."));
    form.addSeparator();
    c.presenterSupport = new QCheckBox(tr("Presentation remotes page through the script"), view);
    form.addRow(tr("Presenters"), c.presenterSupport);
    form.finish();

    connect(c.enableRemoteControl, &QCheckBox::clicked, this,
            &NetworkSettingsViewController::saveNetworkState);
    connect(c.networkName, &QLineEdit::editingFinished, this, [this] {
        if (controls_.networkName->isModified())
            saveNetworkName();
    });
    connect(c.presenterSupport, &QCheckBox::clicked, this, &NetworkSettingsViewController::saveSettings);
    return view;
}

void NetworkSettingsViewController::viewDidLoad() {
    attachToView();
    loadSettings();
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
    controls_.presenterSupport->setChecked(defaults_.boolForKey(settings::isPresenterSupportEnabled));
}

void NetworkSettingsViewController::saveNetworkState() {
    const bool enabled = controls().enableRemoteControl->isChecked();
    const bool previous = defaults_.boolForKey(settings::isBonjourEnabled);
    defaults_.set(settings::isBonjourEnabled, enabled);
    if (enabled != previous)
        center_.post(std::string(networkStateDidChange));
}

void NetworkSettingsViewController::saveNetworkName() {
    QLineEdit* field = controls().networkName;
    const std::string previous = bonjourName();
    const std::string name = field->text().toStdString();
    defaults_.set(settings::bonjourName, name);
    if (name != previous)
        center_.post(std::string(networkStateDidChange));
    field->setText(QString::fromStdString(bonjourName()));
    field->setModified(false);
}

void NetworkSettingsViewController::saveSettings() {
    saveNetworkState();
    saveNetworkName();
    defaults_.set(settings::isPresenterSupportEnabled, controls().presenterSupport->isChecked());
}

} // namespace cw
