// An X client of a chosen window type (normal, desktop or dock) that names
// its process and ends when the window manager asks it to close its window.
#include <unistd.h>

#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

xcb_atom_t Intern(xcb_connection_t* c, const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    if (reply == nullptr)
        return XCB_ATOM_NONE;
    const xcb_atom_t atom = reply->atom;
    std::free(reply);
    return atom;
}

} // namespace

int main(int argc, char* argv[]) {
    const std::string kind = argc > 1 ? argv[1] : "normal";
    const std::string typeName = kind == "desktop" ? "_NET_WM_WINDOW_TYPE_DESKTOP"
                                 : kind == "dock"  ? "_NET_WM_WINDOW_TYPE_DOCK"
                                                   : "_NET_WM_WINDOW_TYPE_NORMAL";
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c) != 0) {
        std::fprintf(stderr, "x_test_client: no display\n");
        return 1;
    }
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t window = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 120, 40, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
    const xcb_atom_t protocols = Intern(c, "WM_PROTOCOLS");
    const xcb_atom_t deleteWindow = Intern(c, "WM_DELETE_WINDOW");
    const xcb_atom_t type = Intern(c, typeName.c_str());
    const uint32_t pid = static_cast<uint32_t>(getpid());
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, protocols, XCB_ATOM_ATOM, 32, 1,
                        &deleteWindow);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, Intern(c, "_NET_WM_WINDOW_TYPE"),
                        XCB_ATOM_ATOM, 32, 1, &type);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, Intern(c, "_NET_WM_PID"),
                        XCB_ATOM_CARDINAL, 32, 1, &pid);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                        static_cast<uint32_t>(kind.size()), kind.data());
    xcb_map_window(c, window);
    xcb_flush(c);
    while (xcb_generic_event_t* event = xcb_wait_for_event(c)) {
        const bool closing =
            (event->response_type & 0x7f) == XCB_CLIENT_MESSAGE &&
            reinterpret_cast<xcb_client_message_event_t*>(event)->data.data32[0] == deleteWindow;
        std::free(event);
        if (closing) {
            std::printf("%s asked to close\n", kind.c_str());
            return 0;
        }
    }
    return 1;
}
