#include "cuewright/settings/KeysSettingsController.h"

#include "cuewright/model/SettingsKeys.h"
#include "platform/keys/KeyTranslation.h"
#include "platform/ui/MenuKeys.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QToolButton>

namespace cw {

namespace {

using Action = KeyBindings::Action;

constexpr std::array<const char*, KeyBindings::actionCount> actionTitles{
    QT_TRANSLATE_NOOP("KeysSettingsController", "Play / Pause"),
    QT_TRANSLATE_NOOP("KeysSettingsController", "Rewind"),
    QT_TRANSLATE_NOOP("KeysSettingsController", "Faster"),
    QT_TRANSLATE_NOOP("KeysSettingsController", "Slower"),
    QT_TRANSLATE_NOOP("KeysSettingsController", "Reverse direction"),
    QT_TRANSLATE_NOOP("KeysSettingsController", "Line up"),
    QT_TRANSLATE_NOOP("KeysSettingsController", "Line down"),
    QT_TRANSLATE_NOOP("KeysSettingsController", "Next bookmark"),
    QT_TRANSLATE_NOOP("KeysSettingsController", "Previous bookmark"),
    QT_TRANSLATE_NOOP("KeysSettingsController", "Fast forward"),
    QT_TRANSLATE_NOOP("KeysSettingsController", "Fast backward"),
};

Action actionAt(std::size_t i) {
    return static_cast<Action>(i);
}

} // namespace

KeysSettingsController::KeysSettingsController(platform::Defaults& defaults,
                                               platform::NotificationCenter& center, QObject* parent)
    : SettingsPane(HelpPage::settingsKeys, defaults, center, parent) {}

QWidget* KeysSettingsController::makeView() {
    auto* view = new QWidget;
    SettingsForm form(view, this);
    Controls& c = controls_;
    for (std::size_t i = 0; i < c.wells.size(); ++i) {
        auto* row = new QHBoxLayout;
        c.wells[i] = new KeyWellButton(view);
        c.wells[i]->setMinimumWidth(170);
        c.wells[i]->setDelegate(this);
        auto* reset = new QToolButton(view);
        reset->setText(QStringLiteral("✕"));
        reset->setAutoRaise(true);
        reset->setToolTip(tr("Remove the shortcut"));
        reset->setAccessibleName(tr("Remove the shortcut of %1").arg(tr(actionTitles[i])));
        const int tag = static_cast<int>(i) + 1;
        reset->setProperty("tag", tag);
        connect(reset, &QToolButton::clicked, this, [this, tag] { resetBinding(tag); });
        row->addWidget(c.wells[i]);
        row->addWidget(reset);
        row->addStretch(1);
        form.addRow(tr(actionTitles[i]), row);
    }
    // Says why the last key was refused; empty until one is. Its two lines are kept free from the
    // start: the pane's height is fixed, and a line appearing later would squeeze the wells' rows.
    c.refusal = form.addNote(QString());
    c.refusal->setObjectName(QStringLiteral("keyRefusal"));
    c.refusal->setMinimumHeight(2 * c.refusal->fontMetrics().lineSpacing());
    form.addSeparator();
    c.actionTrigger = new QComboBox(view);
    c.actionTrigger->addItems({tr("When the key comes up"), tr("When the key goes down")});
    form.addRow(tr("Run actions"), c.actionTrigger);
    c.backgroundEvents = new QCheckBox(tr("Also while another application is in front"), view);
    form.addRow(tr("Listen"), c.backgroundEvents);
    form.addNote(tr("Listening in the background needs an X11 session."));
    form.finish();

    connect(c.actionTrigger, &QComboBox::activated, this, &KeysSettingsController::saveBindings);
    connect(c.backgroundEvents, &QCheckBox::clicked, this, &KeysSettingsController::saveBindings);
    return view;
}

void KeysSettingsController::viewDidLoad() {
    attachToView();
    loadBindings();
}

void KeysSettingsController::viewWillDisappear() {
    if (isViewLoaded())
        saveBindings();
}

void KeysSettingsController::loadBindings() {
    view();
    const KeyBindings bindings = KeyBindings::load(defaults_);
    for (std::size_t i = 0; i < controls_.wells.size(); ++i)
        controls_.wells[i]->setKey(bindings.key(actionAt(i)));
    const QSignalBlocker blockTrigger(controls_.actionTrigger);
    controls_.actionTrigger->setCurrentIndex(
        defaults_.boolForKey(settings::performCustomBindingActionOnKeyDown) ? 1 : 0);
    controls_.backgroundEvents->setChecked(defaults_.boolForKey(settings::listenToShortcutsInBackground));
}

void KeysSettingsController::saveBindings() {
    view();
    KeyBindings bindings;
    bindings.name = KeyBindings::load(defaults_).name;
    for (std::size_t i = 0; i < controls_.wells.size(); ++i) {
        auto key = controls_.wells[i]->key();
        if (key)
            key->modifiers = platform::bindingModifiers(key->modifiers);
        bindings.key(actionAt(i)) = key;
    }
    bindings.save(defaults_, center_);
    defaults_.set(settings::performCustomBindingActionOnKeyDown,
                  controls_.actionTrigger->currentIndex() == 1);
    defaults_.set(settings::listenToShortcutsInBackground, controls_.backgroundEvents->isChecked());
    center_.post(std::string(notifications::backgroundEventListeningDidChange));
}

void KeysSettingsController::resetBinding(int tag) {
    view();
    if (tag >= 1 && tag <= KeyBindings::actionCount)
        controls_.wells[static_cast<std::size_t>(tag - 1)]->setKey(std::nullopt);
    saveBindings();
}

bool KeysSettingsController::keyWellButtonIsKeyAvailable(const KeyWellButton& well, std::uint16_t keyCode,
                                                         platform::ModifierFlags modifiers) {
    controls().refusal->clear();
    const QString keyText =
        QString::fromStdString(KeyBindings::keyText({keyCode, platform::bindingModifiers(modifiers)}));
    const auto refuse = [&](const QString& why) {
        controls_.refusal->setText(why);
        return false;
    };
    // The script editor keeps these for editing: bound, they would act in the prompter only.
    if (platform::isStandardEditingKey(keyCode, modifiers))
        return refuse(tr("%1 stays with editing the script; choose another key.").arg(keyText));
    // Bound, a menu item's key would run the binding in the editor while the menu still shows it.
    const auto combination = platform::qtKeyCombination(keyCode, modifiers);
    if (const auto item = combination ? platform::menuItemWithKey(QKeySequence(*combination)) : std::nullopt)
        return refuse(tr("%1 is the key of the menu item “%2”; choose another key.").arg(keyText, *item));
    for (std::size_t i = 0; i < controls_.wells.size(); ++i) {
        const KeyWellButton* other = controls_.wells[i];
        if (other == &well)
            continue;
        const auto key = other->key();
        if (key && key->keyCode == keyCode &&
            platform::bindingModifiers(key->modifiers) == platform::bindingModifiers(modifiers))
            return refuse(tr("%1 is the key of “%2”; choose another key.").arg(keyText, tr(actionTitles[i])));
    }
    return true;
}

} // namespace cw
