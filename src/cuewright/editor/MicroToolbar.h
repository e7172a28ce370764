// The sidebar's small hand-drawn tab strip: equal-width titled tabs over a hairline.
#pragma once

#include <QColor>
#include <QPointer>
#include <QRectF>
#include <QString>
#include <QWidget>

#include <vector>

namespace cw::editor {

class MicroToolbar;

// Hears which tab the user clicked (also when it was already selected).
class MicroToolbarDelegate {
public:
    virtual ~MicroToolbarDelegate() = default;
    virtual void microToolbarDidSelectItemAt(MicroToolbar& toolbar, int index) = 0;
};

// The tabs share the width equally; the selected title takes the accent colour while its window
// is the main one (black, or light grey when dark, otherwise), the others a grey; a separator
// stands at the left edge of every tab but the first; a line runs along the bottom edge.
// Writing selectedItemIndex() does not tell the delegate. Main thread only.
class MicroToolbar : public QWidget {
    Q_OBJECT

public:
    struct Item {
        int index = 0;
        QString title;
    };

    struct Colors {
        QColor separator;
        QColor selectedTitle;
        QColor title;
        QColor bottomLine;
    };

    // Where painting and clicks put things, in widget coordinates (y down), pixel-aligned.
    struct Layout {
        std::vector<QRectF> tabs;       // one per item, by index
        std::vector<QRectF> titles;     // one per item, by index
        std::vector<QRectF> separators; // at the left edge of tabs 1, 2, ...
        QRectF bottomLine;
    };

    static constexpr double titleFontSize = 12;

    explicit MicroToolbar(QWidget* parent = nullptr);
    MicroToolbar(const MicroToolbar&) = delete;
    MicroToolbar& operator=(const MicroToolbar&) = delete;

    // Appends a tab numbered one above the highest number present (0 for the first).
    void addItem(const QString& title);
    const std::vector<Item>& items() const { return items_; }

    int selectedItemIndex() const { return selectedItemIndex_; }
    // Redraws; tells nobody.
    void setSelectedItemIndex(int index);

    void setDelegate(MicroToolbarDelegate* delegate) { delegate_ = delegate; }

    Colors colors() const;
    Layout layout() const;

    QSize sizeHint() const override { return QSize(240, 26); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;

private:
    std::vector<Item> items_;
    int selectedItemIndex_ = 0;
    MicroToolbarDelegate* delegate_ = nullptr;
};

} // namespace cw::editor
