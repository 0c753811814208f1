#include "x_map_watch.h"

#include "bench_support.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>

#include <poll.h>
#include <xcb/xcb.h>

namespace lorvane::bench {

namespace {

// Replies and events from xcb are malloc()ed and must be free()d.
struct free_deleter
{
    void operator()(void* p) const noexcept { std::free(p); }
};
template <typename T> using xcb_ptr = std::unique_ptr<T, free_deleter>;

std::uint32_t intern(xcb_connection_t* c, const char* name)
{
    const auto cookie = xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
    const xcb_ptr<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(c, cookie, nullptr));
    return reply ? reply->atom : static_cast<std::uint32_t>(XCB_ATOM_NONE);
}

constexpr std::uint8_t EVENT_TYPE_MASK = 0x7F;  // the top bit only says "sent by a client"

}  // namespace

x_map_watch::x_map_watch(const std::string& display)
{
    int screen_number = 0;
    connection_ = xcb_connect(display.c_str(), &screen_number);
    if (xcb_connection_has_error(connection_) != 0) {
        xcb_disconnect(connection_);
        connection_ = nullptr;
        throw std::runtime_error("cannot connect to X display " + display);
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection_));
    for (int i = 0; i < screen_number && screens.rem > 0; ++i)
        xcb_screen_next(&screens);
    if (screens.rem == 0) {
        xcb_disconnect(connection_);
        connection_ = nullptr;
        throw std::runtime_error("X display " + display + " has no such screen");
    }
    root_ = screens.data->root;
    net_wm_pid_ = intern(connection_, "_NET_WM_PID");
    net_wm_name_ = intern(connection_, "_NET_WM_NAME");

    const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    const xcb_void_cookie_t cookie =
        xcb_change_window_attributes_checked(connection_, root_, XCB_CW_EVENT_MASK, &mask);
    if (const xcb_ptr<xcb_generic_error_t> error{xcb_request_check(connection_, cookie)}) {
        xcb_disconnect(connection_);
        connection_ = nullptr;
        throw std::runtime_error("cannot watch the root window of " + display);
    }
}

x_map_watch::~x_map_watch()
{
    if (connection_ != nullptr)
        xcb_disconnect(connection_);
}

std::optional<std::string> x_map_watch::text_property(std::uint32_t window, std::uint32_t property)
{
    constexpr std::uint32_t MAX_LENGTH_WORDS = 256;  // 1 KiB, far more than any caption
    const auto cookie = xcb_get_property(connection_, 0, window, property,
                                         XCB_GET_PROPERTY_TYPE_ANY, 0, MAX_LENGTH_WORDS);
    const xcb_ptr<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(connection_, cookie, nullptr));
    if (!reply || reply->format != 8)
        return std::nullopt;
    const auto* text = static_cast<const char*>(xcb_get_property_value(reply.get()));
    const int length = xcb_get_property_value_length(reply.get());
    return std::string(text, static_cast<std::size_t>(length));
}

bool x_map_watch::window_matches(std::uint32_t window, pid_t pid, const std::string& title)
{
    const auto cookie =
        xcb_get_property(connection_, 0, window, net_wm_pid_, XCB_ATOM_CARDINAL, 0, 1);
    const xcb_ptr<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(connection_, cookie, nullptr));
    if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.get()) != 4)
        return false;
    std::uint32_t owner = 0;
    std::memcpy(&owner, xcb_get_property_value(reply.get()), sizeof owner);
    if (owner != static_cast<std::uint32_t>(pid))
        return false;
    auto name = text_property(window, net_wm_name_);
    if (!name)
        name = text_property(window, XCB_ATOM_WM_NAME);
    return name && *name == title;
}

std::optional<std::int64_t> x_map_watch::wait_for_map(pid_t pid, const std::string& title,
                                                      int timeout_ms)
{
    const std::int64_t deadline = monotonic_ns() + timeout_ms * NS_PER_MS;
    for (;;) {
        const xcb_ptr<xcb_generic_event_t> event(xcb_poll_for_event(connection_));
        if (event) {
            const std::int64_t seen_ns = monotonic_ns();
            if ((event->response_type & EVENT_TYPE_MASK) != XCB_MAP_NOTIFY)
                continue;
            const auto* map = reinterpret_cast<const xcb_map_notify_event_t*>(event.get());
            if (map->override_redirect == 0 && window_matches(map->window, pid, title))
                return seen_ns;
            continue;
        }
        if (xcb_connection_has_error(connection_) != 0)
            throw std::runtime_error("lost the connection to the X server");
        const std::int64_t left = deadline - monotonic_ns();
        if (left <= 0)
            return std::nullopt;
        pollfd entry{xcb_get_file_descriptor(connection_), POLLIN, 0};
        const int wait_ms = static_cast<int>((left + NS_PER_MS - 1) / NS_PER_MS);
        if (::poll(&entry, 1, wait_ms) < 0 && errno != EINTR)
            throw std::runtime_error("poll on the X connection failed");
    }
}

}  // namespace lorvane::bench
