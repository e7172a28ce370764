#include "cuewright/settings/ScriptSettingsController.h"

#include "cuewright/controls/ColorWell.h"
#include "cuewright/model/UserDefaults.h"
#include "cuewright/settings/ScriptSettings.h"

#include "platform/ui/FontPanel.h"

#include <QFontDialog>
#include <QHBoxLayout>
#include <QPushButton>

namespace cw {

namespace {

QPushButton* resetButton(QWidget* parent) {
    auto* b = new QPushButton(QObject::tr("Reset"), parent);
    b->setAutoDefault(false);
    return b;
}

QLayout* wellRow(QWidget* field, QPushButton* reset) {
    auto* row = new QHBoxLayout;
    row->addWidget(field);
    row->addSpacing(8);
    row->addWidget(reset);
    row->addStretch(1);
    return row;
}

} // namespace

ScriptSettingsController::ScriptSettingsController(platform::Defaults& defaults,
                                                   platform::NotificationCenter& center, QObject* parent)
    : SettingsPane(HelpPage::settingsScript, defaults, center, parent) {}

ScriptSettingsController::~ScriptSettingsController() {
    delete fontDialog_.data();
}

QString ScriptSettingsController::fontTitle(const platform::Font& font) {
    QString name = font.family.isEmpty() ? tr("Default") : font.family;
    if (font.bold && font.italic)
        name += tr(" Bold Italic");
    else if (font.bold)
        name += tr(" Bold");
    else if (font.italic)
        name += tr(" Italic");
    return name + QChar(0x2026);
}

QWidget* ScriptSettingsController::makeView() {
    auto* view = new QWidget;
    SettingsForm form(view, this);
    Controls& c = controls_;
    c.backgroundColorWell = new controls::ColorWell(view);
    c.backgroundColorWell->setFixedSize(64, 24);
    c.backgroundColorWell->action = {this, "saveBackgroundColor:"};
    auto* resetBackground = resetButton(view);
    form.addRow(tr("Background colour"), wellRow(c.backgroundColorWell, resetBackground));
    c.textColorWell = new controls::ColorWell(view);
    c.textColorWell->setFixedSize(64, 24);
    c.textColorWell->action = {this, "saveTextColor:"};
    auto* resetText = resetButton(view);
    form.addRow(tr("Text colour"), wellRow(c.textColorWell, resetText));
    form.addSeparator();
    c.fontButton = new QPushButton(view);
    c.fontButton->setAutoDefault(false);
    c.fontButton->setMinimumWidth(200);
    auto* resetFontButton = resetButton(view);
    form.addRow(tr("Font"), wellRow(c.fontButton, resetFontButton));
    form.addNote(tr("New and imported scripts start with these. Open scripts keep their own."));
    form.finish();

    connect(resetBackground, &QPushButton::clicked, this, &ScriptSettingsController::resetBackgroundColor);
    connect(resetText, &QPushButton::clicked, this, &ScriptSettingsController::resetTextColor);
    connect(resetFontButton, &QPushButton::clicked, this, &ScriptSettingsController::resetFont);
    connect(c.fontButton, &QPushButton::clicked, this, &ScriptSettingsController::selectFont);
    return view;
}

void ScriptSettingsController::viewDidLoad() {
    attachToView();
    loadSettings();
}

void ScriptSettingsController::loadSettings() {
    view();
    controls_.backgroundColorWell->setColor(defaultBackgroundColor(defaults_).toQColor());
    controls_.textColorWell->setColor(defaultTextColor(defaults_).toQColor());
    controls_.fontButton->setText(fontTitle(defaultFont(defaults_)));
}

void ScriptSettingsController::viewWillDisappear() {
    if (!isViewLoaded())
        return;
    saveTextColor();
    saveBackgroundColor();
}

// A well still showing what the store reads writes nothing: no rounding drift through QColor, and
// a damaged value stays until the user picks or resets.
void ScriptSettingsController::saveTextColor() {
    const QColor color = controls().textColorWell->color();
    if (color != defaultTextColor(defaults_).toQColor())
        ScriptSettings::setDefaultTextColor(platform::Color::fromQColor(color), defaults_);
}

void ScriptSettingsController::saveBackgroundColor() {
    const QColor color = controls().backgroundColorWell->color();
    if (color != defaultBackgroundColor(defaults_).toQColor())
        ScriptSettings::setDefaultBackgroundColor(platform::Color::fromQColor(color), defaults_);
}

void ScriptSettingsController::resetTextColor() {
    ScriptSettings::setDefaultTextColor(ScriptSettings::factoryTextColor(), defaults_);
    loadSettings();
}

void ScriptSettingsController::resetBackgroundColor() {
    ScriptSettings::setDefaultBackgroundColor(ScriptSettings::factoryBackgroundColor(), defaults_);
    loadSettings();
}

void ScriptSettingsController::resetFont() {
    ScriptSettings::setDefaultFont(ScriptSettings::factoryFont(), defaults_);
    loadSettings();
}

void ScriptSettingsController::selectFont() {
    if (!fontDialog_) {
        fontDialog_ = platform::FontPanel::make(defaultFont(defaults_), nullptr);
        // Only the user's picks arrive here: the panel is set without signals.
        connect(fontDialog_, &QFontDialog::currentFontChanged, this, &ScriptSettingsController::saveFont);
    } else {
        platform::FontPanel::setFont(*fontDialog_, defaultFont(defaults_));
    }
    fontDialog_->show();
    fontDialog_->raise();
}

void ScriptSettingsController::saveFont(const QFont& picked) {
    ScriptSettings::setDefaultFont(platform::FontPanel::picked(picked, defaultFont(defaults_).pointSize),
                                   defaults_);
    loadSettings();
}

bool ScriptSettingsController::respondsToAction(std::string_view action) const {
    return action == "saveTextColor:" || action == "saveBackgroundColor:" ||
           SettingsPane::respondsToAction(action);
}

void ScriptSettingsController::performAction(std::string_view action, QObject* sender) {
    if (action == "saveTextColor:")
        saveTextColor();
    else if (action == "saveBackgroundColor:")
        saveBackgroundColor();
    else
        SettingsPane::performAction(action, sender);
}

} // namespace cw
