#include "Quorvane/Views/Design/EveryDesktop.h"

#include <QGuiApplication>
#include <QWidget>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <vector>

namespace quorvane {

namespace {

// The window manager's convention for "on all desktops".
constexpr std::uint32_t everyDesktop = 0xFFFFFFFF;

xcb_connection_t* x11Connection()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t atom(xcb_connection_t* connection, std::string_view name)
{
    const xcb_intern_atom_cookie_t cookie
        = xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(name.size()), name.data());
    const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(connection, cookie, nullptr), &std::free);
    if (!reply)
        return XCB_ATOM_NONE;
    return reply->atom;
}

} // namespace

void showOnEveryDesktop(QWidget& window)
{
    xcb_connection_t* connection = x11Connection();
    if (!connection)
        return;
    const auto id = static_cast<xcb_window_t>(window.winId());
    const xcb_atom_t desktop = atom(connection, "_NET_WM_DESKTOP");
    const xcb_atom_t state = atom(connection, "_NET_WM_STATE");
    const xcb_atom_t sticky = atom(connection, "_NET_WM_STATE_STICKY");
    if (desktop != XCB_ATOM_NONE)
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, desktop, XCB_ATOM_CARDINAL, 32,
            1, &everyDesktop);
    // Appended, so that the states Qt sets for the window (above others) stay.
    if (state != XCB_ATOM_NONE && sticky != XCB_ATOM_NONE)
        xcb_change_property(
            connection, XCB_PROP_MODE_APPEND, id, state, XCB_ATOM_ATOM, 32, 1, &sticky);
    xcb_flush(connection);
}

bool isAskedOntoEveryDesktop(QWidget& window)
{
    xcb_connection_t* connection = x11Connection();
    if (!connection)
        return false;
    const auto id = static_cast<xcb_window_t>(window.winId());
    // Up to a few values each, so that a property holding more than it should is noticed.
    const auto values = [&](std::string_view name, xcb_atom_t type) {
        const xcb_get_property_cookie_t cookie
            = xcb_get_property(connection, 0, id, atom(connection, name), type, 0, 32);
        const std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
            xcb_get_property_reply(connection, cookie, nullptr), &std::free);
        std::vector<std::uint32_t> found;
        if (reply && reply->format == 32) {
            const auto* first
                = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
            found.assign(first, first + xcb_get_property_value_length(reply.get()) / 4);
        }
        return found;
    };
    const std::vector<std::uint32_t> desktop = values("_NET_WM_DESKTOP", XCB_ATOM_CARDINAL);
    const std::vector<std::uint32_t> states = values("_NET_WM_STATE", XCB_ATOM_ATOM);
    return desktop == std::vector<std::uint32_t>{everyDesktop}
    && std::ranges::find(states, atom(connection, "_NET_WM_STATE_STICKY")) != states.end();
}

} // namespace quorvane
