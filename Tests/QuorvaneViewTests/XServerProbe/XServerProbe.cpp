// XServerProbe.cpp: exits with 0 when an X server answers on $DISPLAY, else 1, so that a test run
// under Xvfb can tell a server that never started from tests that fail.
#include <xcb/xcb.h>

int main()
{
    xcb_connection_t* const connection = xcb_connect(nullptr, nullptr);
    const bool answers = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return answers ? 0 : 1;
}
