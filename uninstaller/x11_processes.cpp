#include "x11_processes.h"

#include <unistd.h>

#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

namespace zentrova::uninstaller {

struct X11ProcessLayer::Display {
    xcb_connection_t* connection = nullptr;
    xcb_ewmh_connection_t ewmh{};
    bool ewmhReady = false;
    int screen = 0;
    xcb_atom_t wmProtocols = XCB_ATOM_NONE;
    xcb_atom_t wmDeleteWindow = XCB_ATOM_NONE;

    ~Display() {
        if (ewmhReady)
            xcb_ewmh_connection_wipe(&ewmh);
        if (connection != nullptr)
            xcb_disconnect(connection);
    }

    xcb_atom_t Intern(const char* name) const {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            connection,
            xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name),
            nullptr);
        if (reply == nullptr)
            return XCB_ATOM_NONE;
        const xcb_atom_t atom = reply->atom;
        std::free(reply);
        return atom;
    }

    bool Open() {
        const char* name = std::getenv("DISPLAY");
        if (name == nullptr || *name == '\0')
            return false;
        connection = xcb_connect(name, &screen);
        if (connection == nullptr || xcb_connection_has_error(connection) != 0)
            return false;
        xcb_intern_atom_cookie_t* cookies = xcb_ewmh_init_atoms(connection, &ewmh);
        if (cookies == nullptr || xcb_ewmh_init_atoms_replies(&ewmh, cookies, nullptr) == 0)
            return false;
        ewmhReady = true;
        wmProtocols = Intern("WM_PROTOCOLS");
        wmDeleteWindow = Intern("WM_DELETE_WINDOW");
        return wmProtocols != XCB_ATOM_NONE && wmDeleteWindow != XCB_ATOM_NONE;
    }

    bool AcceptsDelete(xcb_window_t window) const {
        xcb_get_property_reply_t* reply = xcb_get_property_reply(
            connection, xcb_get_property(connection, 0, window, wmProtocols, XCB_ATOM_ATOM, 0, 64),
            nullptr);
        if (reply == nullptr)
            return false;
        const int count = xcb_get_property_value_length(reply) / int(sizeof(xcb_atom_t));
        const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply));
        const bool accepts =
            reply->format == 32 && std::find(atoms, atoms + count, wmDeleteWindow) != atoms + count;
        std::free(reply);
        return accepts;
    }
};

X11ProcessLayer::X11ProcessLayer() = default;
X11ProcessLayer::~X11ProcessLayer() = default;

// One walk sees the applications as they were when it began.
void X11ProcessLayer::TakeSnapshot() {
    applications_.clear();
    display_ = std::make_unique<Display>();
    if (!display_->Open()) {
        display_.reset();
        return;
    }
    xcb_ewmh_connection_t* ewmh = &display_->ewmh;
    xcb_ewmh_get_windows_reply_t clients;
    if (xcb_ewmh_get_client_list_reply(ewmh, xcb_ewmh_get_client_list(ewmh, display_->screen),
                                       &clients, nullptr) == 0)
        return;
    for (std::uint32_t i = 0; i < clients.windows_len; ++i) {
        const xcb_window_t window = clients.windows[i];
        std::uint32_t pid = 0;
        // A window that does not name its process cannot be told apart from
        // ours or the desktop's: leave it alone.
        if (xcb_ewmh_get_wm_pid_reply(ewmh, xcb_ewmh_get_wm_pid(ewmh, window), &pid, nullptr) ==
                0 ||
            pid == 0)
            continue;
        auto app = std::find_if(applications_.begin(), applications_.end(),
                                [pid](const Application& a) { return a.pid == pid; });
        if (app == applications_.end()) {
            applications_.push_back(
                Application{pid, {}, FourCharCode("????"), FourCharCode("APPL")});
            app = applications_.end() - 1;
        }
        app->windows.push_back(window);
        xcb_ewmh_get_atoms_reply_t types;
        if (xcb_ewmh_get_wm_window_type_reply(ewmh, xcb_ewmh_get_wm_window_type(ewmh, window),
                                              &types, nullptr) == 0)
            continue;
        for (std::uint32_t t = 0; t < types.atoms_len; ++t) {
            if (types.atoms[t] == ewmh->_NET_WM_WINDOW_TYPE_DESKTOP) {
                app->signature = FourCharCode("MACS");
                app->type = FourCharCode("FNDR");
            } else if (types.atoms[t] == ewmh->_NET_WM_WINDOW_TYPE_DOCK &&
                       app->signature != FourCharCode("MACS")) {
                app->signature = FourCharCode("cads");
            }
        }
        xcb_ewmh_get_atoms_reply_wipe(&types);
    }
    xcb_ewmh_get_windows_reply_wipe(&clients);
}

const X11ProcessLayer::Application* X11ProcessLayer::Find(const ProcessSerialNumber& psn) const {
    for (const Application& app : applications_) {
        if (psn.highLongOfPSN == 0 && psn.lowLongOfPSN == app.pid)
            return &app;
    }
    return nullptr;
}

OSErr X11ProcessLayer::GetCurrentProcess(ProcessSerialNumber* psn) {
    *psn = ProcessSerialNumber{0, static_cast<std::uint32_t>(getpid())};
    return noErr;
}

OSErr X11ProcessLayer::GetNextProcess(ProcessSerialNumber* psn) {
    std::size_t next = 0;
    if (psn->highLongOfPSN == 0 && psn->lowLongOfPSN == 0) {
        TakeSnapshot();
    } else {
        const Application* current = Find(*psn);
        if (current == nullptr)
            return procNotFound;
        next = static_cast<std::size_t>(current - applications_.data()) + 1;
    }
    if (next >= applications_.size())
        return procNotFound;
    *psn = ProcessSerialNumber{0, applications_[next].pid};
    return noErr;
}

OSErr X11ProcessLayer::SameProcess(const ProcessSerialNumber& a, const ProcessSerialNumber& b,
                                   bool* result) {
    *result = a.highLongOfPSN == b.highLongOfPSN && a.lowLongOfPSN == b.lowLongOfPSN;
    return noErr;
}

OSErr X11ProcessLayer::GetProcessInformation(const ProcessSerialNumber& psn, ProcessInfoRec* info) {
    const Application* app = Find(psn);
    if (app == nullptr)
        return procNotFound;
    if (info->processName != nullptr) {
        // The process name, as far as /proc tells it; nothing depends on it.
        const std::string name = "pid " + std::to_string(app->pid);
        const std::size_t length = std::min<std::size_t>(name.size(), 31);
        info->processName[0] = static_cast<unsigned char>(length);
        std::memcpy(info->processName + 1, name.data(), length);
    }
    info->processSignature = app->signature;
    info->processType = app->type;
    return noErr;
}

// The system tests answer as on Mac OS X: an Aqua menu layout, no
// compatibility environment.
OSErr X11ProcessLayer::Gestalt(OSType selector, std::int32_t* response) {
    if (selector == FourCharCode("menu")) {
        *response = 2;
        return noErr;
    }
    return gestaltUndefSelectorErr;
}

// Newest windows first, so that a dialog is dismissed before the window it
// blocks is asked to close.
OSErr X11ProcessLayer::SendQuitRequest(const ProcessSerialNumber& psn) {
    const Application* app = Find(psn);
    if (app == nullptr)
        return procNotFound;
    if (display_ == nullptr)
        return connectionInvalid;
    xcb_connection_t* connection = display_->connection;
    for (auto window = app->windows.rbegin(); window != app->windows.rend(); ++window) {
        if (display_->AcceptsDelete(*window)) {
            xcb_client_message_event_t event{};
            event.response_type = XCB_CLIENT_MESSAGE;
            event.format = 32;
            event.window = *window;
            event.type = display_->wmProtocols;
            event.data.data32[0] = display_->wmDeleteWindow;
            event.data.data32[1] = XCB_CURRENT_TIME;
            xcb_send_event(connection, 0, *window, XCB_EVENT_MASK_NO_EVENT,
                           reinterpret_cast<const char*>(&event));
        } else {
            xcb_ewmh_request_close_window(&display_->ewmh, display_->screen, *window,
                                          XCB_CURRENT_TIME, XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER);
        }
    }
    return xcb_flush(connection) > 0 ? noErr : connectionInvalid;
}

} // namespace zentrova::uninstaller
