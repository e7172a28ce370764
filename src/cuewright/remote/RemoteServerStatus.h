// What this copy's remote-control server is doing, for the Remote control pane to say.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace cw {

// `announcing`: a server is starting, and its name is on its way to the network. `running`: it
// answers at its port and controllers find it. The last four: it answers at its port, but no
// controller finds it, for another service on the network has its name, the name is longer than
// the network carries, no discovery service runs, or the discovery refused it for `reason`.
struct RemoteServerStatus {
    enum class State { off, announcing, running, failed, nameInUse, nameTooLong, noDiscovery, notAnnounced };
    State state = State::off;
    std::uint16_t port = 0; // once it answers; the one asked for when it failed there
    std::string reason;     // why it failed or is not announced; the name in use or too long
    friend bool operator==(const RemoteServerStatus&, const RemoteServerStatus&) = default;
};

// Posted on the default notification centre, on the main thread, after the status changed.
inline constexpr std::string_view remoteServerStatusDidChange = "RemoteServerStatusDidChange";

// The status last set; off until a server starts. Any thread.
RemoteServerStatus remoteServerStatus();
// Sets it; a change is posted (see above). Any thread.
void setRemoteServerStatus(RemoteServerStatus status);

} // namespace cw
