// Watches an X server for a program's window being mapped, from outside that program: a
// client of its own that listens for MapNotify on the root window. Without a window manager
// (as on a bare Xvfb) a top-level window is a child of the root and is mapped the moment the
// program shows it, so the event marks "window shown" to within one X server round trip.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <sys/types.h>

struct xcb_connection_t;

namespace lorvane::bench {

class x_map_watch
{
public:
    // Connects to `display` (e.g. ":7") and starts listening; throws std::runtime_error
    // when the server cannot be reached.
    explicit x_map_watch(const std::string& display);
    ~x_map_watch();
    x_map_watch(const x_map_watch&) = delete;
    x_map_watch& operator=(const x_map_watch&) = delete;

    // Waits up to timeout_ms for a top-level window of process `pid` titled `title` to be
    // mapped; returns the monotonic time in ns at which the MapNotify was read, or nullopt
    // on time-out. Maps of other windows seen meanwhile are skipped.
    std::optional<std::int64_t> wait_for_map(pid_t pid, const std::string& title, int timeout_ms);

private:
    bool window_matches(std::uint32_t window, pid_t pid, const std::string& title);
    std::optional<std::string> text_property(std::uint32_t window, std::uint32_t property);

    xcb_connection_t* connection_ = nullptr;
    std::uint32_t root_ = 0;
    std::uint32_t net_wm_pid_ = 0;
    std::uint32_t net_wm_name_ = 0;
};

}  // namespace lorvane::bench
