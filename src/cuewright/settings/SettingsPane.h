// Base of the settings window's panes, and the form their controls are laid out in.
#pragma once

#include "cuewright/settings/HelpLinks.h"
#include "platform/defaults/Defaults.h"
#include "platform/defaults/NotificationCenter.h"
#include "platform/ui/ActionRoute.h"
#include "platform/ui/ViewController.h"

#include <QString>

#include <memory>

class QGridLayout;
class QLayout;
class QLabel;

namespace cw {

// A pane of the settings window. The window calls viewDidAppear() each time the pane comes into
// view (the pane reloads its controls from the store) and viewWillDisappear() each time it goes
// (another pane replaces it or the window closes; the pane stores its controls again).
// Loading a pane never writes the store: only what the user does runs the save actions.
//
// The pane performs "showHelp:" (its section of the online manual) and is attached to its view
// on the responder chain, so controls inside it may send their actions without a target.
// `defaults` and `center` must outlive the pane. Main thread only.
class SettingsPane : public platform::ViewController, public platform::ActionResponder {
    Q_OBJECT

public:
    SettingsPane(HelpPage helpPage, platform::Defaults& defaults, platform::NotificationCenter& center,
                 QObject* parent = nullptr);
    ~SettingsPane() override;

    virtual void viewDidAppear() {}
    virtual void viewWillDisappear() {}

    void showHelp();

    bool respondsToAction(std::string_view action) const override;
    void performAction(std::string_view action, QObject* sender) override;

    // The width every pane is laid out for.
    static constexpr int paneWidth = 620;

protected:
    // Attaches the pane to `view`; subclasses call it from viewDidLoad() after building.
    void attachToView();

    platform::Defaults& defaults_;
    platform::NotificationCenter& center_;

private:
    HelpPage helpPage_;
    std::unique_ptr<platform::ResponderAttachment> attachment_;
};

// Rows of "Label:" and control in two columns, in groups divided by thin lines, with the pane's
// help button at the bottom right.
class SettingsForm {
public:
    SettingsForm(QWidget* view, SettingsPane* pane);

    // A row: the label right-aligned (with a colon when not empty), the field on the right.
    QLabel* addRow(const QString& label, QWidget* field);
    QLabel* addRow(const QString& label, QLayout* field);
    // Grey explanatory text under the previous field.
    QLabel* addNote(const QString& text);
    void addSeparator();
    // Gives a word-wrapped label the field column's width and the height its lines need.
    static void fitWrappedText(QLabel* label);
    // Ends the form: the help button and the space below.
    void finish();

private:
    static constexpr int sideMargin = 28;
    static constexpr int labelColumnWidth = 150;
    static constexpr int columnGap = 14;

    QGridLayout* grid_;
    SettingsPane* pane_;
    QWidget* view_;
    int row_ = 0;
};

} // namespace cw
