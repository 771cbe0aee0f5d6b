// xping: measures how quickly a running X client's GUI thread answers.
//
//   xping PID DURATION_MS [INTERVAL_MS]
//
// Waits (at most 20 s) for a mapped top-level window whose _NET_WM_PID is PID,
// then sends it the window manager's _NET_WM_PING every INTERVAL_MS (default
// 50) for DURATION_MS. A client answers a ping from its event loop by sending
// the message back to the root window, so the round trip measures how long
// the client's GUI thread takes to get to a new event; the X server alone
// cannot answer it. Prints one line:
//   pings=N answered=N max_ms=X max_at_ms=T over_100ms=N lost=N alive=0|1
// (T: when the slowest ping was sent, counted from the first one)
// A ping unanswered after 2 s counts as lost. Exit status 0 when a window was
// found, 2 when none appeared, 3 without a display.
#include <xcb/xcb.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

xcb_atom_t atom(xcb_connection_t* c, const char* name)
{
    auto cookie = xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(xcb_intern_atom_reply(c, cookie, nullptr),
                                                                          &std::free);
    return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

long windowPid(xcb_connection_t* c, xcb_window_t window, xcb_atom_t pidAtom)
{
    auto cookie = xcb_get_property(c, 0, window, pidAtom, XCB_ATOM_CARDINAL, 0, 1);
    std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(xcb_get_property_reply(c, cookie, nullptr),
                                                                           &std::free);
    if (!reply || xcb_get_property_value_length(reply.get()) < 4)
        return -1;
    return static_cast<long>(*static_cast<std::uint32_t*>(xcb_get_property_value(reply.get())));
}

bool viewable(xcb_connection_t* c, xcb_window_t window)
{
    auto cookie = xcb_get_window_attributes(c, window);
    std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> reply(
        xcb_get_window_attributes_reply(c, cookie, nullptr), &std::free);
    return reply && reply->map_state == XCB_MAP_STATE_VIEWABLE;
}

// Without a window manager the client's top-level windows are children of the
// root window.
xcb_window_t findWindow(xcb_connection_t* c, xcb_window_t root, long pid, xcb_atom_t pidAtom)
{
    auto cookie = xcb_query_tree(c, root);
    std::unique_ptr<xcb_query_tree_reply_t, decltype(&std::free)> tree(xcb_query_tree_reply(c, cookie, nullptr),
                                                                        &std::free);
    if (!tree)
        return XCB_WINDOW_NONE;
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i)
        if (windowPid(c, children[i], pidAtom) == pid && viewable(c, children[i]))
            return children[i];
    return XCB_WINDOW_NONE;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: xping PID DURATION_MS [INTERVAL_MS]\n");
        return 1;
    }
    const long pid = std::atol(argv[1]);
    const auto duration = std::chrono::milliseconds(std::atol(argv[2]));
    const auto interval = std::chrono::milliseconds(argc > 3 ? std::atol(argv[3]) : 50);

    int screenNumber = 0;
    xcb_connection_t* c = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(c)) {
        std::printf("no display\n");
        return 3;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber; ++i)
        xcb_screen_next(&screens);
    const xcb_window_t root = screens.data->root;
    const xcb_atom_t protocols = atom(c, "WM_PROTOCOLS");
    const xcb_atom_t ping = atom(c, "_NET_WM_PING");
    const xcb_atom_t pidAtom = atom(c, "_NET_WM_PID");

    xcb_window_t window = XCB_WINDOW_NONE;
    const auto findDeadline = Clock::now() + std::chrono::seconds(20);
    while (window == XCB_WINDOW_NONE && Clock::now() < findDeadline && ::kill(static_cast<pid_t>(pid), 0) == 0) {
        window = findWindow(c, root, pid, pidAtom);
        if (window == XCB_WINDOW_NONE)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (window == XCB_WINDOW_NONE) {
        std::printf("no window alive=%d\n", ::kill(static_cast<pid_t>(pid), 0) == 0);
        xcb_disconnect(c);
        return 2;
    }

    // The answer goes to the root window, to the clients that select its
    // structure events (Qt sends it with StructureNotify | SubstructureRedirect,
    // other toolkits with SubstructureNotify | SubstructureRedirect).
    const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(c);

    long pings = 0, answered = 0, over = 0, lost = 0;
    double maxMs = 0;
    double maxAtMs = 0;
    const auto first = Clock::now();
    const auto end = first + duration;
    for (std::uint32_t stamp = 1; Clock::now() < end; ++stamp) {
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = window;
        message.type = protocols;
        message.data.data32[0] = ping;
        message.data.data32[1] = stamp;
        message.data.data32[2] = window;
        const auto sent = Clock::now();
        xcb_send_event(c, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&message));
        xcb_flush(c);
        ++pings;
        bool got = false;
        const auto giveUp = sent + std::chrono::seconds(2);
        while (!got && Clock::now() < giveUp) {
            std::unique_ptr<xcb_generic_event_t, decltype(&std::free)> event(xcb_poll_for_event(c), &std::free);
            if (!event) {
                if (xcb_connection_has_error(c))
                    break;
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                continue;
            }
            if ((event->response_type & 0x7f) != XCB_CLIENT_MESSAGE)
                continue;
            const auto* answer = reinterpret_cast<const xcb_client_message_event_t*>(event.get());
            got = answer->data.data32[0] == ping && answer->data.data32[1] == stamp;
        }
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - sent).count();
        if (got) {
            ++answered;
            if (ms > maxMs) {
                maxMs = ms;
                maxAtMs = std::chrono::duration<double, std::milli>(sent - first).count();
            }
            over += ms > 100.0;
        } else {
            ++lost;
        }
        if (::kill(static_cast<pid_t>(pid), 0) != 0)
            break;
        std::this_thread::sleep_until(sent + interval);
    }
    std::printf("pings=%ld answered=%ld max_ms=%.1f max_at_ms=%.0f over_100ms=%ld lost=%ld alive=%d\n", pings,
                answered, maxMs, maxAtMs, over, lost, ::kill(static_cast<pid_t>(pid), 0) == 0);
    xcb_disconnect(c);
    return 0;
}
