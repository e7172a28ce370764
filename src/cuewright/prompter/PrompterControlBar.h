// PrompterControlBar: the prompter window's bar of settings, which never squeezes its controls.
#pragma once

#include <QWidget>

#include <vector>

class QHBoxLayout;

namespace cw {

// A row of control groups with the "…" menu button at its right end. The groups that do not fit the
// bar's width at their size hints are hidden, the least important first (highest rank), so that no
// control is ever squeezed, cut or overlapped; the window offers their controls in the menu instead
// (overflowChanged tells it when). Groups keep their order on screen whatever their rank.
// Main thread only; owns its widgets once added.
class PrompterControlBar : public QWidget {
    Q_OBJECT

public:
    enum class Side { left, right };

    explicit PrompterControlBar(QWidget* parent = nullptr);
    PrompterControlBar(const PrompterControlBar&) = delete;
    PrompterControlBar& operator=(const PrompterControlBar&) = delete;

    // Adds a group after the others of its side; returns its index. Lower ranks stay longer.
    int addGroup(std::vector<QWidget*> widgets, int rank, Side side);
    // The button at the right end, always shown.
    void setMenuButton(QWidget* button);
    bool isGroupShown(int group) const;

    // Enough for the menu button: what does not fit goes into the menu.
    QSize minimumSizeHint() const override;

signals:
    void overflowChanged();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Group {
        std::vector<QWidget*> widgets;
        int rank = 0;
        bool shown = true;
    };

    void fit();
    int groupWidth(const Group& group) const;

    QHBoxLayout* row_;
    int rightStart_ = 0; // layout index of the right side's first widget
    std::vector<Group> groups_;
    QWidget* menuButton_ = nullptr;
};

} // namespace cw
