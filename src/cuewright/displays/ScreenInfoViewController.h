// One row of the Displays pane: a display's prompter settings, its prompter switch and the
// button that makes it identify itself.
#pragma once

#include "cuewright/displays/ScreenIdentificator.h"
#include "cuewright/model/ScreenDescription.h"
#include "platform/ui/ViewController.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QString>

#include <memory>

namespace cw {

// Told by a row when the user changed its display's settings; given the row's whole new
// description. Main thread.
class ScreenInfoControllerDelegate {
public:
    virtual ~ScreenInfoControllerDelegate() = default;
    virtual void screenInfoControllerDidChange(const ScreenDescription& screen) = 0;
    // The prompter switch was flipped; the description carries its new state in isActive.
    virtual void screenInfoControllerDidToggleScreen(const ScreenDescription& screen) = 0;
};

// Shows one ScreenDescription in a row of controls 154 points high and writes the user's
// changes back into it before telling the delegate:
//  - the switch (isActive) sends toggleScreen(); flips, show buttons and alignment send
//    didChangeUI();
//  - the name field edits the nickname (empty stores none; the display's own name is the
//    placeholder). Return or leaving the field saves; Escape puts the name back and saves
//    nothing. A description arriving while the name is being edited leaves the typed text;
//  - the identify button starts and stops the display's identification; an identification
//    that cannot start (the display is unplugged) logs "error: " and the reason and leaves the
//    button off, and one whose display goes away switches the button off.
// The delegate is not owned and must outlive the row (the list owns its rows). Main thread only.
class ScreenInfoViewController : public platform::ViewController {
    Q_OBJECT

public:
    static constexpr int rowHeight = 154;

    explicit ScreenInfoViewController(ScreenDescription screenInfo,
                                      ScreenIdentificator::Options identification = {},
                                      QObject* parent = nullptr);
    ~ScreenInfoViewController() override;

    const ScreenDescription& desc() const { return desc_; }
    // Replaces the description and shows it.
    void setDesc(ScreenDescription desc);
    ScreenInfoControllerDelegate* delegate() const { return delegate_; }
    void setDelegate(ScreenInfoControllerDelegate* delegate) { delegate_ = delegate; }
    // Made on the first identification, then kept; null before.
    ScreenIdentificator* screenIdentificator() const { return identificator_.get(); }

    // Controls from the description, and back.
    void updateUI();
    void readUI();

    // ---- actions ----
    void didChangeUI();
    void toggleScreen();
    void identifyScreen();
    // Stops a running identification and switches the identify button off.
    void stopIdentification();

    // Where Tab in the name field goes; the field's usual tab order when none.
    void setNextKeyView(QWidget* next) { nextKeyView_ = next; }

    // ---- the row's controls (present once the view has loaded) ----
    QCheckBox* screenCheckbox() const { return screenCheckbox_; }
    QLineEdit* screenNameLabel() const { return screenNameLabel_; }
    QLabel* resolutionLabel() const { return resolutionLabel_; }
    // Buttons 0 left, 1 center, 2 right; none checked leaves the alignment as it is.
    QButtonGroup* alignmentSegment() const { return alignmentSegment_; }
    QCheckBox* flipHButton() const { return flipHButton_; }
    QCheckBox* flipVButton() const { return flipVButton_; }
    QCheckBox* showControlsButton() const { return showControlsButton_; }
    QCheckBox* showTimestampButton() const { return showTimestampButton_; }
    QCheckBox* showProgressButton() const { return showProgressButton_; }
    QAbstractButton* identificatorButton() const { return identificatorButton_; }

    // "1440 x 900": whole points, fractions cut off.
    static QString resolutionText(double width, double height);

protected:
    QWidget* makeView() override;
    void viewDidLoad() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void beginNameEditing();
    void endNameEditing();
    void showName();

    ScreenDescription desc_;
    ScreenIdentificator::Options identification_;
    ScreenInfoControllerDelegate* delegate_ = nullptr;
    std::unique_ptr<ScreenIdentificator> identificator_;
    bool editingName_ = false;
    bool discardScreenNameEditing_ = false;
    QPointer<QWidget> nextKeyView_;

    QPointer<QCheckBox> screenCheckbox_;
    QPointer<QLineEdit> screenNameLabel_;
    QPointer<QLabel> resolutionLabel_;
    QPointer<QButtonGroup> alignmentSegment_;
    QPointer<QCheckBox> flipHButton_;
    QPointer<QCheckBox> flipVButton_;
    QPointer<QCheckBox> showControlsButton_;
    QPointer<QCheckBox> showTimestampButton_;
    QPointer<QCheckBox> showProgressButton_;
    QPointer<QAbstractButton> identificatorButton_;
};

} // namespace cw
