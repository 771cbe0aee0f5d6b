/*
 * Vexor module interface: everything a module author needs.
 *
 * A module is a shared library named <Name>.mdl that lies in the folder given
 * by the "ModulePath" value of its registry key Software\Vexor\<Name>. The
 * client loads it with dlopen when the user presses the module's button and
 * looks up three exports by name (plain C linkage, the platform's default
 * calling convention):
 *
 *   DajOkno             create and return the module's window
 *   SetProxyParameters  receive the current proxy settings
 *   ZavriOkno           the module's own closing step
 *
 * Each export is looked up separately; a missing one is simply not called.
 *
 * Order of calls while the client runs:
 *
 *   open:        dlopen, DajOkno, window->show, SetProxyParameters
 *   proxy change (preferences confirmed, window open):  SetProxyParameters
 *   re-open (button pressed while the library is still loaded, no window):
 *                DajOkno, window->show            (no SetProxyParameters)
 *   close (button released, or CM_TRYCLOSEMODULE for the window):
 *                ZavriOkno, window->close, window->destroy, dlclose
 *   client exit: window->destroy, dlclose         (no ZavriOkno, no close)
 *
 * Threads: the client makes every call (the exports and the window functions)
 * on its GUI thread, the thread that runs the QApplication. A module built
 * with Qt Widgets shares that QApplication and may create widgets directly; a
 * module that blocks in a call blocks the whole client. Only
 * VexorHost.post_message and VexorHost.next_window_id may be called from any
 * thread.
 *
 * Lifetimes: the module must not leave anything behind that runs after
 * window->destroy returns (timers, threads, posted callbacks into its own
 * code), because the library may be unloaded right after it.
 *
 * Strings: text is 8-bit (UTF-8 on Linux). Identifiers and proxy values come
 * as ShortString255; the host builds a fresh copy for every call and the
 * pointer is valid only during that call, so copy what you keep.
 */
#ifndef VEXOR_MODULE_H
#define VEXOR_MODULE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The interface version the host reports in VexorHost.interface_version. A
 * module that does not know the host's version returns NULL from DajOkno. */
#define VEXOR_MODULE_INTERFACE_VERSION 1u

/* Messages a module posts to the main window through VexorHost.post_message. */
/* Start a synchronisation with the server if none is running; wParam and
 * lParam are not read (pass 0). */
#define VEXOR_CM_TRYCONNECT 33533u
/* Close the module whose window has the native handle wParam, exactly as if
 * the user had released its button; lParam is not read. The host calls
 * ZavriOkno, closes and destroys the window and unloads the library while it
 * handles this message, so the request must be POSTED and is never handled
 * inside the module's own call: after post_message returns, the module's code
 * keeps running until it returns to the event loop. */
#define VEXOR_CM_TRYCLOSEMODULE 33534u

/* The short string: a length byte (0 to 255) followed by that many bytes of
 * text, no terminator. Longer texts reach the module cut to 255 bytes. */
typedef struct ShortString255 {
    uint8_t length;
    char text[255];
} ShortString255;

/* The main window, as seen by a module (argument 1 of DajOkno). Owned by the
 * host; valid from DajOkno until window->destroy of the last window the
 * module created has returned. */
typedef struct VexorHost {
    /* VEXOR_MODULE_INTERFACE_VERSION of the host. */
    uint32_t interface_version;

    /* Posts `message` with its parameters to the main window's queue, as
     * posting a window message does, and returns at once. Thread-safe.
     * Returns 1 when queued, 0 when the host is gone or the message unknown
     * (only VEXOR_CM_TRYCONNECT and VEXOR_CM_TRYCLOSEMODULE are accepted). */
    int32_t (*post_message)(const struct VexorHost* host, uint32_t message, intptr_t wParam,
                            intptr_t lParam);

    /* A new native window handle: a positive number never handed out before
     * in this run of the client (so unique among all open module windows).
     * Thread-safe. A module takes one for every window it creates and
     * returns it from window->native_handle. */
    int32_t (*next_window_id)(const struct VexorHost* host);

    /* The host's own data; modules do not touch it. */
    void* host_context;
} VexorHost;

/* The module's top-level window, returned by DajOkno. The module allocates
 * the struct and fills in every function; ownership passes to the host, which
 * calls show at once and, later, close (optional) and destroy exactly once.
 * destroy frees the window and the struct itself; the host never touches the
 * pointer afterwards. */
typedef struct VexorModuleWindow {
    /* Shows the window normally. */
    void (*show)(struct VexorModuleWindow* self);
    /* Hides the window (it still exists). */
    void (*close)(struct VexorModuleWindow* self);
    /* Destroys the window and frees this struct. */
    void (*destroy)(struct VexorModuleWindow* self);
    /* The handle from VexorHost.next_window_id; it is the wParam of the
     * module's VEXOR_CM_TRYCLOSEMODULE. Must stay the same while the window
     * exists. A handle of 0 or below never matches a close request. */
    int32_t (*native_handle)(const struct VexorModuleWindow* self);
    /* The module's own data (its widget, state). */
    void* context;
} VexorModuleWindow;

/* "DajOkno": create the module's window.
 *   host         the main window (see VexorHost)
 *   appDir       the client's program folder with a trailing "/", NUL-terminated
 *   clientId     the client identifier
 *   userId       the user identifier
 *   autoConnect  the client's auto-connect setting: 0 off, 1 on
 * Returns the new window, or NULL for none (the library stays loaded). */
typedef VexorModuleWindow* (*VexorDajOknoFn)(const VexorHost* host, const char* appDir,
                                             const ShortString255* clientId,
                                             const ShortString255* userId, uint8_t autoConnect);

/* "SetProxyParameters": the client's proxy settings; an empty proxyName means
 * no proxy, proxyPort is 0 when none is set. Called after DajOkno returned. */
typedef void (*VexorSetProxyParametersFn)(const ShortString255* proxyName,
                                          const ShortString255* proxyUser,
                                          const ShortString255* proxyPass, int32_t proxyPort);

/* "ZavriOkno": called while the window still exists, just before the host
 * closes and destroys it and unloads the library. Not called at client exit. */
typedef void (*VexorZavriOknoFn)(void);

/* Marks an export of a module library. */
#if defined(__GNUC__) || defined(__clang__)
#define VEXOR_MODULE_EXPORT __attribute__((visibility("default")))
#else
#define VEXOR_MODULE_EXPORT
#endif

/* The three exports, declared for module sources (define them with the same
 * signatures; the host never links against these declarations). */
VEXOR_MODULE_EXPORT VexorModuleWindow* DajOkno(const VexorHost* host, const char* appDir,
                                               const ShortString255* clientId,
                                               const ShortString255* userId, uint8_t autoConnect);
VEXOR_MODULE_EXPORT void SetProxyParameters(const ShortString255* proxyName,
                                            const ShortString255* proxyUser,
                                            const ShortString255* proxyPass, int32_t proxyPort);
VEXOR_MODULE_EXPORT void ZavriOkno(void);

#ifdef __cplusplus
}
#endif

#endif /* VEXOR_MODULE_H */
