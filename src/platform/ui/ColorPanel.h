// The application's one colour panel, shared by every colour well.
#pragma once

#include <QColor>
#include <QObject>
#include <QPointer>

class QColorDialog;

namespace platform {

// What the panel talks to: the one control whose colour it edits (the active colour well).
class ColorPanelClient {
public:
    virtual ~ColorPanelClient() = default;
    // The user changed the panel's colour; called for every change while the panel is open.
    virtual void colorPanelDidChangeColor(const QColor& color) = 0;
    // The panel let go of this client: another client attached, or the panel closed.
    virtual void colorPanelDidRelease() = 0;
};

// A non-modal colour dialog without buttons whose changes go live to one client at a time. The
// last client to attach wins: the one before it is released. Closing the panel (its close box,
// Escape, close()) releases the client. The panel shows without taking focus from the window the
// client is in. Clients detach before they go away.
//
// Main thread only. One per application: shared(); the dialog is made on first use.
class ColorPanel : public QObject {
    Q_OBJECT

public:
    static ColorPanel& shared();

    // Makes `client` the panel's client, sets the panel to `color` (which the client does not
    // hear back) and shows the panel.
    void attach(ColorPanelClient* client, const QColor& color);
    // Forgets `client` without calling it; the panel stays as it is. Others are left alone.
    void detach(ColorPanelClient* client);
    // Hides the panel and releases its client.
    void close();

    ColorPanelClient* client() const { return client_; }
    bool isVisible() const;
    QColor color() const;
    // The dialog itself (made when needed); tests drive it as a user would.
    QColorDialog* dialog();

private:
    ColorPanel();
    void dialogColorChanged(const QColor& color);
    void release();

    QPointer<QColorDialog> dialog_;
    ColorPanelClient* client_ = nullptr;
    bool settingColor_ = false;
};

} // namespace platform
