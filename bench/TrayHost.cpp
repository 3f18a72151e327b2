// A stand-in for a desktop's system tray, for measuring the application under Xvfb: it owns the
// tray selection of the default screen and prints "ready", then one line "dock <window>" for
// every icon that asks to dock, so that a script sees when the tray icon appeared. It embeds
// nothing and runs until it is killed.
#include <xcb/xcb.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

xcb_atom_t atom(xcb_connection_t* connection, const std::string& name)
{
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection,
        xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(name.size()), name.c_str()),
        nullptr);
    const xcb_atom_t found = reply ? reply->atom : XCB_ATOM_NONE;
    std::free(reply);
    return found;
}

xcb_screen_t* screenNumber(xcb_connection_t* connection, int number)
{
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (; screens.rem > 0 && number > 0; --number)
        xcb_screen_next(&screens);
    return screens.rem > 0 ? screens.data : nullptr;
}

/// Tells the clients watching the root window that the tray has a manager now.
void announce(xcb_connection_t* connection, const xcb_screen_t& screen, xcb_window_t owner,
    xcb_atom_t selection)
{
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = screen.root;
    message.type = atom(connection, "MANAGER");
    message.data.data32[0] = XCB_CURRENT_TIME;
    message.data.data32[1] = selection;
    message.data.data32[2] = owner;
    xcb_send_event(connection, 0, screen.root, XCB_EVENT_MASK_STRUCTURE_NOTIFY,
        reinterpret_cast<const char*>(&message));
}

} // namespace

int main()
{
    int number = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &number);
    xcb_screen_t* screen = xcb_connection_has_error(connection) ? nullptr
                                                                 : screenNumber(connection, number);
    if (!screen) {
        std::fputs("No X server to host a tray on: set DISPLAY.\n", stderr);
        return 1;
    }
    const xcb_window_t owner = xcb_generate_id(connection);
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, owner, screen->root, 0, 0, 1, 1, 0,
        XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
    const std::uint32_t horizontal = 0;
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, owner,
        atom(connection, "_NET_SYSTEM_TRAY_ORIENTATION"), XCB_ATOM_CARDINAL, 32, 1, &horizontal);
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, owner,
        atom(connection, "_NET_SYSTEM_TRAY_VISUAL"), XCB_ATOM_VISUALID, 32, 1,
        &screen->root_visual);
    const xcb_atom_t selection = atom(connection, "_NET_SYSTEM_TRAY_S" + std::to_string(number));
    xcb_set_selection_owner(connection, owner, selection, XCB_CURRENT_TIME);
    announce(connection, *screen, owner, selection);
    xcb_flush(connection);
    std::puts("ready");
    std::fflush(stdout);

    const xcb_atom_t opcode = atom(connection, "_NET_SYSTEM_TRAY_OPCODE");
    constexpr std::uint32_t requestDock = 0;
    while (xcb_generic_event_t* event = xcb_wait_for_event(connection)) {
        if ((event->response_type & 0x7F) == XCB_CLIENT_MESSAGE) {
            const auto* message = reinterpret_cast<const xcb_client_message_event_t*>(event);
            if (message->type == opcode && message->data.data32[1] == requestDock) {
                std::printf("dock %u\n", message->data.data32[2]);
                std::fflush(stdout);
            }
        }
        std::free(event);
    }
    xcb_disconnect(connection);
    return 0;
}
