#include "cuewright/settings/UpdateSettingsViewController.h"

#include "cuewright/settings/SupportMail.h"

#include <QLabel>
#include <QPushButton>

namespace cw {

UpdateSettingsViewController::UpdateSettingsViewController(platform::Defaults& defaults,
                                                           platform::NotificationCenter& center,
                                                           QObject* parent)
    : SettingsPane(HelpPage::settingsUpdates, defaults, center, parent) {}

QWidget* UpdateSettingsViewController::makeView() {
    auto* view = new QWidget;
    SettingsForm form(view, this);
    const ApplicationInfo app = ApplicationInfo::current();
    auto* version = new QLabel(tr("%1 %2 (build %3)").arg(app.name, app.version, app.build), view);
    version->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form.addRow(tr("This copy"), version);
    auto* text = new QLabel(Updater::explanation(), view);
    SettingsForm::fitWrappedText(text);
    form.addRow(tr("Updates"), text);
    auto* check = new QPushButton(tr("Check for Updates…"), view);
    check->setAutoDefault(false);
    form.addRow({}, check);
    form.finish();
    connect(check, &QPushButton::clicked, this, &UpdateSettingsViewController::checkForUpdates);
    return view;
}

void UpdateSettingsViewController::checkForUpdates() {
    updater_.checkForUpdates(view()->window());
}

} // namespace cw
