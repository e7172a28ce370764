// What this copy's remote-control server is doing, for the Remote control pane to say.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace cw {

// `nameInUse`: the server answers at its port, but no controller finds it, for another service on
// the network has its name.
struct RemoteServerStatus {
    enum class State { off, running, failed, nameInUse };
    State state = State::off;
    std::uint16_t port = 0; // while running, or named as another
    std::string reason;     // why it failed; the name in use
    friend bool operator==(const RemoteServerStatus&, const RemoteServerStatus&) = default;
};

// Posted on the default notification centre, on the main thread, after the status changed.
inline constexpr std::string_view remoteServerStatusDidChange = "RemoteServerStatusDidChange";

// The status last set; off until a server starts. Any thread.
RemoteServerStatus remoteServerStatus();
// Sets it; a change is posted (see above). Any thread.
void setRemoteServerStatus(RemoteServerStatus status);

} // namespace cw
