/* The least a program can hold to cover every monitor with one colour on X11: one
 * InputOutput window per RandR monitor whose background pixel the server paints, with the
 * same window-manager hints as Vellumor's overlays, and nothing else. x11_bench.sh compares
 * Vellumor's memory, start and rebuild with this program's.
 *
 *   bare_windows            holds the windows until it is killed (prints "ready N"), making
 *                           them anew on every RandR change
 *   bare_windows --reuse    the same, but on a RandR change keeps the windows whose monitor
 *                           is still there with the same rectangle, and makes or destroys
 *                           only the others: the least a display change can cost
 *   bare_windows --repaint COUNT
 *                           repaints every window COUNT times in turn the way Vellumor's X11
 *                           backend does (per window: ChangeWindowAttributes BACK_PIXEL,
 *                           ClearArea, flush; then one round trip for all), prints the time
 *                           of each repaint, then the same with one flush for all windows. */

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>
#include <xcb/randr.h>
#include <xcb/xcb.h>

#define MAX_WINDOWS 64

static xcb_atom_t intern(xcb_connection_t* c, const char* name) {
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, (uint16_t)strlen(name), name), NULL);
    xcb_atom_t atom = reply ? reply->atom : XCB_ATOM_NONE;
    free(reply);
    return atom;
}

static double now_us(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec * 1e6 + (double)t.tv_nsec / 1e3;
}

static int compare_doubles(const void* a, const void* b) {
    const double x = *(const double*)a;
    const double y = *(const double*)b;
    return (x > y) - (x < y);
}

/* Waits until the server has processed everything sent so far. */
static void round_trip(xcb_connection_t* c) {
    free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), NULL));
}

static void report(const char* what, double* samples, int count, int windows) {
    qsort(samples, (size_t)count, sizeof samples[0], compare_doubles);
    printf("%s windows=%d repaints=%d median_us=%.1f min_us=%.1f p90_us=%.1f max_us=%.1f\n", what,
           windows, count, samples[count / 2], samples[0], samples[(count * 9) / 10],
           samples[count - 1]);
}

static xcb_connection_t* c;
static const xcb_screen_t* screen;
static xcb_window_t windows[MAX_WINDOWS];
static xcb_rectangle_t frames[MAX_WINDOWS];
static int count;
static int reuse;
static xcb_atom_t type, desktop, state, pid_atom, states[4];

/* A window covering `m`, mapped. */
static xcb_window_t make_window(const xcb_randr_monitor_info_t* m) {
    const uint32_t pid = (uint32_t)getpid();
    const xcb_window_t w = xcb_generate_id(c);
    const uint32_t values[2] = {0x1a1a1a, XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, w, screen->root, m->x, m->y, m->width, m->height, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
    static const char wm_class[] = "bare_windows\0BareWindows";
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                        sizeof wm_class, wm_class);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, type, XCB_ATOM_ATOM, 32, 1, &desktop);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, state, XCB_ATOM_ATOM, 32, 4, states);
    /* ICCCM WM_NORMAL_HINTS: user and program position and size, fixed size, static
     * gravity; without a position of the user's, a manager places the window itself. */
    const uint32_t hints[18] = {
        (1u << 0) | (1u << 1) | (1u << 2) | (1u << 3) | (1u << 4) | (1u << 5) | (1u << 9),
        (uint32_t)m->x,
        (uint32_t)m->y,
        m->width,
        m->height,
        m->width,
        m->height,
        m->width,
        m->height,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        10};
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NORMAL_HINTS,
                        XCB_ATOM_WM_SIZE_HINTS, 32, 18, hints);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, pid_atom, XCB_ATOM_CARDINAL, 32, 1, &pid);
    xcb_map_window(c, w);
    return w;
}

static int same_frame(const xcb_rectangle_t* frame, const xcb_randr_monitor_info_t* m) {
    return frame->x == m->x && frame->y == m->y && frame->width == m->width &&
           frame->height == m->height;
}

/* One window per RandR monitor. From scratch, as the program asks on every display change:
 * the windows there are are destroyed and new ones made; with --reuse, a window whose
 * monitor is still there, unchanged, stays as it is. */
static void cover_monitors(void) {
    xcb_randr_get_monitors_reply_t* monitors =
        xcb_randr_get_monitors_reply(c, xcb_randr_get_monitors(c, screen->root, 1), NULL);
    if (monitors == NULL) {
        fprintf(stderr, "bare_windows: the server has no RandR monitors\n");
        exit(1);
    }
    if (!reuse) {
        for (int i = 0; i < count; ++i) {
            xcb_destroy_window(c, windows[i]);
        }
        count = 0;
    }
    xcb_window_t kept[MAX_WINDOWS];
    xcb_rectangle_t kept_frames[MAX_WINDOWS];
    int kept_count = 0;
    int taken[MAX_WINDOWS] = {0};
    for (xcb_randr_monitor_info_iterator_t it = xcb_randr_get_monitors_monitors_iterator(monitors);
         it.rem > 0 && kept_count < MAX_WINDOWS; xcb_randr_monitor_info_next(&it)) {
        const xcb_randr_monitor_info_t* m = it.data;
        xcb_window_t w = XCB_WINDOW_NONE;
        for (int i = 0; i < count && w == XCB_WINDOW_NONE; ++i) {
            if (!taken[i] && same_frame(&frames[i], m)) {
                taken[i] = 1;
                w = windows[i];
            }
        }
        if (w == XCB_WINDOW_NONE) {
            w = make_window(m);
        }
        kept[kept_count] = w;
        kept_frames[kept_count] = (xcb_rectangle_t){m->x, m->y, m->width, m->height};
        ++kept_count;
    }
    for (int i = 0; i < count; ++i) {
        if (!taken[i]) {
            xcb_destroy_window(c, windows[i]);
        }
    }
    memcpy(windows, kept, sizeof kept[0] * (size_t)kept_count);
    memcpy(frames, kept_frames, sizeof kept_frames[0] * (size_t)kept_count);
    count = kept_count;
    free(monitors);
    xcb_flush(c);
}

int main(int argc, char** argv) {
    int repaints = 0;
    if (argc == 3 && strcmp(argv[1], "--repaint") == 0) {
        repaints = atoi(argv[2]);
    } else if (argc == 2 && strcmp(argv[1], "--reuse") == 0) {
        reuse = 1;
    } else if (argc != 1) {
        fprintf(stderr, "usage: %s [--reuse | --repaint COUNT]\n", argv[0]);
        return 2;
    }

    int screen_number = 0;
    c = xcb_connect(NULL, &screen_number);
    if (xcb_connection_has_error(c)) {
        fprintf(stderr, "bare_windows: cannot connect to the X server\n");
        return 1;
    }
    xcb_screen_iterator_t roots = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screen_number; ++i) {
        xcb_screen_next(&roots);
    }
    screen = roots.data;
    type = intern(c, "_NET_WM_WINDOW_TYPE");
    desktop = intern(c, "_NET_WM_WINDOW_TYPE_DESKTOP");
    state = intern(c, "_NET_WM_STATE");
    pid_atom = intern(c, "_NET_WM_PID");
    states[0] = intern(c, "_NET_WM_STATE_BELOW");
    states[1] = intern(c, "_NET_WM_STATE_STICKY");
    states[2] = intern(c, "_NET_WM_STATE_SKIP_TASKBAR");
    states[3] = intern(c, "_NET_WM_STATE_SKIP_PAGER");
    const xcb_query_extension_reply_t* randr = xcb_get_extension_data(c, &xcb_randr_id);
    if (randr == NULL || !randr->present) {
        fprintf(stderr, "bare_windows: the server has no RandR\n");
        return 1;
    }
    xcb_randr_select_input(
        c, screen->root,
        XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE | XCB_RANDR_NOTIFY_MASK_OUTPUT_CHANGE |
            XCB_RANDR_NOTIFY_MASK_CRTC_CHANGE | XCB_RANDR_NOTIFY_MASK_OUTPUT_PROPERTY);
    /* Xvfb 21.1 reports a monitor set or deleted only as a ConfigureNotify of the root. */
    const uint32_t root_events = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, screen->root, XCB_CW_EVENT_MASK, &root_events);
    cover_monitors();
    round_trip(c);

    if (repaints <= 0) {
        printf("ready %d\n", count);
        fflush(stdout);
        /* Hold the windows, and make them anew on every display change, once per burst of
         * change events. */
        xcb_generic_event_t* event;
        while ((event = xcb_wait_for_event(c)) != NULL) {
            int changed = 0;
            do {
                const uint8_t kind = (uint8_t)(event->response_type & 0x7f);
                changed |= kind == randr->first_event + XCB_RANDR_SCREEN_CHANGE_NOTIFY ||
                           kind == randr->first_event + XCB_RANDR_NOTIFY ||
                           (kind == XCB_CONFIGURE_NOTIFY &&
                            ((const xcb_configure_notify_event_t*)event)->window == screen->root);
                free(event);
            } while ((event = xcb_poll_for_event(c)) != NULL);
            if (changed) {
                cover_monitors();
            }
        }
        xcb_disconnect(c);
        return 0;
    }

    /* A window manager maps the windows in its own time; a repaint of a window that is not
     * on screen yet would cost the server nothing. */
    for (int tries = 0; tries < 5000; ++tries) {
        int viewable = 0;
        for (int i = 0; i < count; ++i) {
            xcb_get_window_attributes_reply_t* a =
                xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, windows[i]), NULL);
            viewable += a != NULL && a->map_state == XCB_MAP_STATE_VIEWABLE;
            free(a);
        }
        if (viewable == count) {
            break;
        }
        const struct timespec pause = {0, 1000000};
        nanosleep(&pause, NULL);
    }

    double* samples = calloc((size_t)repaints, sizeof *samples);
    for (int pass = 0; pass < 2; ++pass) {
        const int flush_each = pass == 0;
        for (int r = 0; r < repaints; ++r) {
            const uint32_t pixel = (r % 2) ? 0xcc331a : 0x1a4de6;
            const double start = now_us();
            for (int i = 0; i < count; ++i) {
                xcb_change_window_attributes(c, windows[i], XCB_CW_BACK_PIXEL, &pixel);
                xcb_clear_area(c, 0, windows[i], 0, 0, 0, 0);
                if (flush_each) {
                    xcb_flush(c);
                }
            }
            round_trip(c);
            samples[r] = now_us() - start;
        }
        report(flush_each ? "repaint_flush_per_window" : "repaint_one_flush", samples, repaints,
               count);
    }
    free(samples);
    xcb_disconnect(c);
    return 0;
}
