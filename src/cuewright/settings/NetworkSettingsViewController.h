// The Remote control pane: the network remote control, the name this copy advertises, and
// presentation remotes.
#pragma once

#include "cuewright/remote/NetworkSettings.h"
#include "cuewright/remote/RemoteServerStatus.h"
#include "cuewright/settings/SettingsPane.h"

#include <string>

class QCheckBox;
class QLabel;
class QLineEdit;
class QSpinBox;

namespace cw {

// Switching the remote control or changing the name or the port posts "NetworkStateDidchange"
// (the switch's first, so a change of both posts twice); presenter support posts nothing. An
// emptied name is stored as "" and the field then shows the name in use. Main thread only.
class NetworkSettingsViewController : public SettingsPane {
    Q_OBJECT

public:
    static constexpr std::string_view networkStateDidChange = NetworkSettings::networkStateDidChange;

    // `computerName` is the computer's name shown to people ("" when it has none).
    explicit NetworkSettingsViewController(
        std::string computerName, platform::Defaults& defaults = platform::Defaults::standard(),
        platform::NotificationCenter& center = platform::NotificationCenter::defaultCenter(),
        QObject* parent = nullptr);
    ~NetworkSettingsViewController() override;

    struct Controls {
        QCheckBox* enableRemoteControl = nullptr;
        QLineEdit* networkName = nullptr;
        QSpinBox* port = nullptr; // 0: any free port
        QCheckBox* presenterSupport = nullptr;
        QLabel* serverStatus = nullptr; // whether the server runs, and why not
    };
    const Controls& controls() {
        view();
        return controls_;
    }

    // The name in use (NetworkSettings::bonjourName with this pane's computer name).
    std::string bonjourName() const;

    void loadSettings();
    void saveSettings();
    void saveNetworkState();
    void saveNetworkName();
    void savePort();
    // Under the switch, while it is on: the server's port, or why it is not running or no
    // controller can find it.
    void showServerStatus();
    static QString serverStatusText(const RemoteServerStatus& status);
    void viewDidAppear() override { loadSettings(); }
    void viewWillDisappear() override;

protected:
    QWidget* makeView() override;
    void viewDidLoad() override;

private:
    std::string computerName_;
    Controls controls_;
};

} // namespace cw
