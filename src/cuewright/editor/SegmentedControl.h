// A row of equal, exclusive text segments drawn as one rounded control (the alignment choice).
#pragma once

#include <QStringList>
#include <QWidget>

namespace cw::editor {

// One segment is selected at a time (or none, -1). A click selects a segment and emits
// segmentClicked; setSelectedSegment() emits nothing. Colours come from the window's palette at
// paint time, so the control follows the light and dark appearance. Main thread only.
class SegmentedControl : public QWidget {
    Q_OBJECT

public:
    explicit SegmentedControl(const QStringList& labels, QWidget* parent = nullptr);

    int segmentCount() const { return int(labels_.size()); }
    int selectedSegment() const { return selected_; }
    // Out of range selects none.
    void setSelectedSegment(int index);
    QRectF segmentRect(int index) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void segmentClicked(int index);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QStringList labels_;
    int selected_ = -1;
};

} // namespace cw::editor
