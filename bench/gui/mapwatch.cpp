// Starts a program and reports how long it took until its window was mapped
// on the X server: usage
//     vexor_mapwatch TITLE TIMEOUT_MS PROGRAM [ARGS...]
// Prints "<pid> <milliseconds>" once a top-level window whose WM_NAME is TITLE
// is mapped, and leaves the program running (in its own session). Exit status
// 1 when no such window appears in time (the program is then killed), 2 on a
// usage or display error. The clock starts just before fork().
#include <xcb/xcb.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <poll.h>
#include <unistd.h>

namespace {

std::string windowName(xcb_connection_t* connection, xcb_window_t window)
{
    const xcb_get_property_cookie_t cookie =
        xcb_get_property(connection, 0, window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, 1024);
    std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
        xcb_get_property_reply(connection, cookie, nullptr), &std::free);
    if (!reply)
        return {};
    const auto* text = static_cast<const char*>(xcb_get_property_value(reply.get()));
    return std::string(text, static_cast<std::size_t>(xcb_get_property_value_length(reply.get())));
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s TITLE TIMEOUT_MS PROGRAM [ARGS...]\n", argv[0]);
        return 2;
    }
    const std::string title = argv[1];
    const auto timeout = std::chrono::milliseconds(std::atol(argv[2]));
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        std::fprintf(stderr, "mapwatch: no X display\n");
        return 2;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection, root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection);

    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        ::setsid();
        ::execvp(argv[3], argv + 3);
        _exit(127);
    }
    pollfd watch{xcb_get_file_descriptor(connection), POLLIN, 0};
    for (;;) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
            const bool mapped = (event->response_type & 0x7f) == XCB_MAP_NOTIFY;
            const xcb_window_t window = mapped ? reinterpret_cast<xcb_map_notify_event_t*>(event)->window : 0;
            std::free(event);
            if (mapped && windowName(connection, window) == title) {
                const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
                std::printf("%d %.1f\n", static_cast<int>(child), took.count());
                xcb_disconnect(connection);
                return 0;
            }
        }
        const auto left = timeout - (std::chrono::steady_clock::now() - start);
        if (left <= std::chrono::milliseconds(0)) {
            ::kill(child, SIGKILL);
            std::fprintf(stderr, "mapwatch: no window \"%s\" within %ld ms\n", title.c_str(),
                         static_cast<long>(timeout.count()));
            return 1;
        }
        ::poll(&watch, 1, static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(left).count()) + 1);
        if (xcb_connection_has_error(connection))
            return 2;
    }
}
