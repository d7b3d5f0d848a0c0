/* Times Vellumor on an X server from outside, by what the server shows: an overlay counts
 * once it is viewable (mapped, with every ancestor mapped), is typed as a desktop window and
 * carries the program's process number in _NET_WM_PID.
 *
 *   x11_probe start N PROGRAM [ARG...]
 *       starts PROGRAM and waits until it has N overlays on screen; prints the time from
 *       just before the start to then, and the process number (the program is left running).
 *   x11_probe wait N PID [TIMEOUT_MS]
 *       waits until PID has exactly N overlays on screen.
 *   x11_probe rebuild N PID REPEAT [kept]
 *       REPEAT times: detaches the last RandR monitor that has no output and waits until PID
 *       shows N-1 overlays made after the change, then attaches it again and waits for N.
 *       With "kept", the overlays of unchanged monitors that stay on screen across the change
 *       count too (a program that keeps their windows makes no new ones for them).
 *   x11_probe fanout N PID REPEAT [CLOCK_FILE]
 *       REPEAT times: sends Up or Down (XTEST) to the focused window, which must be a spin
 *       box of the program's colour panel, and waits until the screen shows a new colour at
 *       one point of each of the first N monitors. With CLOCK_FILE, where x11/repaint_clock.c
 *       writes when the program last flushed its overlays' repaint requests, it also gives
 *       the time from the key press to that flush.
 *
 * Times are taken on CLOCK_MONOTONIC; an end is noticed on the server event that completes
 * it or, failing that, by a check every 2 ms. */

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>
#include <xcb/randr.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

extern char** environ;

#define MAX_CANDIDATES 4096
#define MAX_MONITORS 64
#define CHECK_INTERVAL_MS 2

static xcb_connection_t* conn;
static const xcb_screen_t* screen;
static xcb_atom_t atom_pid, atom_type, atom_desktop;

static double now_ms(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec * 1e3 + (double)t.tv_nsec / 1e6;
}

static void sleep_ms(double ms) {
    struct timespec t;
    t.tv_sec = (time_t)(ms / 1e3);
    t.tv_nsec = (long)((ms - (double)t.tv_sec * 1e3) * 1e6);
    while (nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
}

static int compare_doubles(const void* a, const void* b) {
    const double x = *(const double*)a;
    const double y = *(const double*)b;
    return (x > y) - (x < y);
}

static void summary(const char* what, double* samples, int count, int n) {
    qsort(samples, (size_t)count, sizeof samples[0], compare_doubles);
    printf("%s overlays=%d runs=%d median_ms=%.3f min_ms=%.3f max_ms=%.3f\n", what, n, count,
           samples[count / 2], samples[0], samples[count - 1]);
}

static xcb_atom_t intern(const char* name) {
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(conn, xcb_intern_atom(conn, 0, (uint16_t)strlen(name), name), NULL);
    xcb_atom_t atom = reply ? reply->atom : XCB_ATOM_NONE;
    free(reply);
    return atom;
}

static void round_trip(void) {
    free(xcb_get_input_focus_reply(conn, xcb_get_input_focus(conn), NULL));
}

static void connect_or_die(void) {
    int number = 0;
    conn = xcb_connect(NULL, &number);
    if (xcb_connection_has_error(conn)) {
        fprintf(stderr, "x11_probe: cannot connect to the X server\n");
        exit(1);
    }
    xcb_screen_iterator_t roots = xcb_setup_roots_iterator(xcb_get_setup(conn));
    for (int i = 0; i < number; ++i) {
        xcb_screen_next(&roots);
    }
    screen = roots.data;
    atom_pid = intern("_NET_WM_PID");
    atom_type = intern("_NET_WM_WINDOW_TYPE");
    atom_desktop = intern("_NET_WM_WINDOW_TYPE_DESKTOP");
}

/* ---- overlays on screen ---- */

static xcb_window_t candidates[MAX_CANDIDATES];
static int candidate_count;
/* Whether a rebuild counts the overlays that stay across a change (rebuild ... kept). */
static int count_kept;

static void add_candidate(xcb_window_t window) {
    for (int i = 0; i < candidate_count; ++i) {
        if (candidates[i] == window) {
            return;
        }
    }
    if (candidate_count < MAX_CANDIDATES) {
        candidates[candidate_count++] = window;
    }
}

/* Adds the root's children and grandchildren (a window manager's frames hold the clients). */
static void add_existing_windows(void) {
    xcb_query_tree_reply_t* top =
        xcb_query_tree_reply(conn, xcb_query_tree(conn, screen->root), NULL);
    if (top == NULL) {
        return;
    }
    const xcb_window_t* children = xcb_query_tree_children(top);
    const int count = xcb_query_tree_children_length(top);
    for (int i = 0; i < count; ++i) {
        add_candidate(children[i]);
        xcb_query_tree_reply_t* inner =
            xcb_query_tree_reply(conn, xcb_query_tree(conn, children[i]), NULL);
        if (inner != NULL) {
            const xcb_window_t* grand = xcb_query_tree_children(inner);
            for (int k = 0; k < xcb_query_tree_children_length(inner); ++k) {
                add_candidate(grand[k]);
            }
            free(inner);
        }
    }
    free(top);
}

/* How many candidates are viewable desktop-typed windows of `pid`; forgets the candidates
 * that no longer exist. */
static int count_overlays(uint32_t pid) {
    static xcb_get_window_attributes_cookie_t attributes[MAX_CANDIDATES];
    static xcb_get_property_cookie_t pids[MAX_CANDIDATES];
    static xcb_get_property_cookie_t types[MAX_CANDIDATES];
    for (int i = 0; i < candidate_count; ++i) {
        attributes[i] = xcb_get_window_attributes(conn, candidates[i]);
        pids[i] = xcb_get_property(conn, 0, candidates[i], atom_pid, XCB_ATOM_CARDINAL, 0, 1);
        types[i] = xcb_get_property(conn, 0, candidates[i], atom_type, XCB_ATOM_ATOM, 0, 16);
    }
    int found = 0;
    int kept = 0;
    for (int i = 0; i < candidate_count; ++i) {
        xcb_get_window_attributes_reply_t* a =
            xcb_get_window_attributes_reply(conn, attributes[i], NULL);
        xcb_get_property_reply_t* p = xcb_get_property_reply(conn, pids[i], NULL);
        xcb_get_property_reply_t* t = xcb_get_property_reply(conn, types[i], NULL);
        if (a != NULL) {
            candidates[kept++] = candidates[i];
            int ours = p != NULL && p->format == 32 && xcb_get_property_value_length(p) >= 4 &&
                       *(const uint32_t*)xcb_get_property_value(p) == pid;
            int desktop = 0;
            if (t != NULL && t->format == 32) {
                const xcb_atom_t* items = xcb_get_property_value(t);
                for (int k = 0; k < xcb_get_property_value_length(t) / 4; ++k) {
                    desktop |= items[k] == atom_desktop;
                }
            }
            if (ours && desktop && a->map_state == XCB_MAP_STATE_VIEWABLE) {
                ++found;
            }
        }
        free(a);
        free(p);
        free(t);
    }
    candidate_count = kept;
    return found;
}

/* Follows new top-level windows: each is a candidate, and its own map events come to us. */
static void watch_root(void) {
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(conn, screen->root, XCB_CW_EVENT_MASK, &mask);
    round_trip();
}

/* Handles queued events; whether any of them may have changed what is on screen. */
static int drain_events(void) {
    int changed = 0;
    xcb_generic_event_t* event;
    while ((event = xcb_poll_for_event(conn)) != NULL) {
        const uint8_t type = event->response_type & 0x7f;
        if (type == XCB_CREATE_NOTIFY) {
            const xcb_create_notify_event_t* created = (const xcb_create_notify_event_t*)event;
            if (created->parent == screen->root) {
                add_candidate(created->window);
                const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
                xcb_change_window_attributes(conn, created->window, XCB_CW_EVENT_MASK, &mask);
                xcb_flush(conn);
            }
        }
        if (type == XCB_MAP_NOTIFY || type == XCB_REPARENT_NOTIFY || type == XCB_CREATE_NOTIFY) {
            changed = 1;
        }
        free(event);
    }
    return changed;
}

/* Waits until `pid` has exactly `want` overlays among the candidates; the time it was seen,
 * or a negative number after `timeout_ms`. */
static double wait_for_overlays(uint32_t pid, int want, double timeout_ms) {
    const double deadline = now_ms() + timeout_ms;
    double last_check = 0.0;
    for (;;) {
        const int changed = drain_events();
        const double t = now_ms();
        if (changed || t - last_check >= CHECK_INTERVAL_MS) {
            last_check = t;
            if (count_overlays(pid) == want) {
                return t;
            }
        }
        if (t > deadline) {
            return -1.0;
        }
        struct pollfd fd = {xcb_get_file_descriptor(conn), POLLIN, 0};
        poll(&fd, 1, CHECK_INTERVAL_MS);
        if (xcb_connection_has_error(conn)) {
            fprintf(stderr, "x11_probe: lost the X server\n");
            exit(1);
        }
    }
}

static int command_start(int want, char** program) {
    watch_root();
    /* The program writes to the probe's standard error, so that a caller reading the probe's
     * output to its end is not kept waiting by the program that stays. */
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
    pid_t pid = 0;
    const double start = now_ms();
    const int failed = posix_spawn(&pid, program[0], &actions, NULL, program, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
        fprintf(stderr, "x11_probe: cannot start %s\n", program[0]);
        return 1;
    }
    const double shown = wait_for_overlays((uint32_t)pid, want, 20000.0);
    if (shown < 0.0) {
        fprintf(stderr, "x11_probe: %s showed no %d overlays in 20 s\n", program[0], want);
        printf("pid=%d\n", (int)pid);
        return 1;
    }
    printf("start_ms=%.3f overlays=%d pid=%d\n", shown - start, want, (int)pid);
    return 0;
}

static int command_wait(int want, uint32_t pid, double timeout_ms) {
    watch_root();
    add_existing_windows();
    if (wait_for_overlays(pid, want, timeout_ms) < 0.0) {
        fprintf(stderr, "x11_probe: process %u has not %d overlays on screen\n", pid, want);
        return 1;
    }
    return 0;
}

/* ---- display changes ---- */

/* The last monitor that has no output of its own (one set with xrandr --setmonitor ... none). */
static int last_monitor_without_output(xcb_randr_monitor_info_t* out) {
    xcb_randr_get_monitors_reply_t* monitors =
        xcb_randr_get_monitors_reply(conn, xcb_randr_get_monitors(conn, screen->root, 1), NULL);
    int found = 0;
    if (monitors != NULL) {
        for (xcb_randr_monitor_info_iterator_t it =
                 xcb_randr_get_monitors_monitors_iterator(monitors);
             it.rem > 0; xcb_randr_monitor_info_next(&it)) {
            if (it.data->nOutput == 0) {
                *out = *it.data;
                found = 1;
            }
        }
        free(monitors);
    }
    return found;
}

/* Sends one display change and waits until `pid` shows `want` overlays made after it. */
static double timed_change(uint32_t pid, int want, const xcb_randr_monitor_info_t* attach,
                           xcb_atom_t detach) {
    /* Only the overlays made after the change count, or, with "kept", every one that stays. */
    candidate_count = 0;
    if (count_kept) {
        add_existing_windows();
    }
    const double start = now_ms();
    if (attach != NULL) {
        xcb_randr_monitor_info_t copy = *attach;
        xcb_randr_set_monitor(conn, screen->root, &copy);
    } else {
        xcb_randr_delete_monitor(conn, screen->root, detach);
    }
    xcb_flush(conn);
    const double shown = wait_for_overlays(pid, want, 10000.0);
    if (shown < 0.0) {
        fprintf(stderr, "x11_probe: no %d new overlays within 10 s of a display change\n", want);
        exit(1);
    }
    /* Lets the program's and the window manager's follow-up work (restacking) finish. */
    sleep_ms(200.0);
    drain_events();
    return shown - start;
}

/* The server refuses to set a monitor anew under a name it has (Xvfb 21.1), so a change is
 * the last monitor detached and attached again: both rebuild every overlay. */
static int command_rebuild(int want, uint32_t pid, int repeat) {
    watch_root();
    xcb_randr_monitor_info_t last;
    memset(&last, 0, sizeof last);
    if (!last_monitor_without_output(&last)) {
        fprintf(stderr, "x11_probe: no monitor without an output to detach and attach\n");
        return 1;
    }
    double* attached = calloc((size_t)repeat, sizeof *attached);
    double* detached = calloc((size_t)repeat, sizeof *detached);
    for (int r = 0; r < repeat; ++r) {
        detached[r] = timed_change(pid, want - 1, NULL, last.name);
        attached[r] = timed_change(pid, want, &last, XCB_ATOM_NONE);
        printf("detach_ms=%.3f attach_ms=%.3f\n", detached[r], attached[r]);
    }
    summary("rebuild_detach", detached, repeat, want - 1);
    summary("rebuild_attach", attached, repeat, want);
    free(attached);
    free(detached);
    return 0;
}

/* ---- colour changes through the colour panel ---- */

/* XTEST FakeInput (minor opcode 2): libxcb-xtest's request, written out here so that the
 * probe needs no more than libxcb. */
static xcb_extension_t xtest_extension = {"XTEST", 0};

typedef struct {
    uint8_t major_opcode;
    uint8_t minor_opcode;
    uint16_t length;
    uint8_t type;
    uint8_t detail;
    uint8_t pad0[2];
    uint32_t time;
    xcb_window_t root;
    uint8_t pad1[8];
    int16_t root_x;
    int16_t root_y;
    uint8_t pad2[7];
    uint8_t deviceid;
} fake_input_request;

static void fake_key(uint8_t type, xcb_keycode_t key) {
    fake_input_request request;
    memset(&request, 0, sizeof request);
    request.type = type;
    request.detail = key;
    request.root = screen->root;
    struct iovec parts[4];
    parts[2].iov_base = &request;
    parts[2].iov_len = sizeof request;
    parts[3].iov_base = NULL;
    parts[3].iov_len = 0;
    xcb_protocol_request_t info = {2, &xtest_extension, 2, 1};
    xcb_send_request(conn, 0, parts + 2, &info);
}

static xcb_keycode_t keycode_for(xcb_keysym_t sym) {
    const xcb_setup_t* setup = xcb_get_setup(conn);
    const uint8_t first = setup->min_keycode;
    const uint8_t count = (uint8_t)(setup->max_keycode - setup->min_keycode + 1);
    xcb_get_keyboard_mapping_reply_t* map =
        xcb_get_keyboard_mapping_reply(conn, xcb_get_keyboard_mapping(conn, first, count), NULL);
    xcb_keycode_t found = 0;
    if (map != NULL) {
        const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(map);
        const int per = map->keysyms_per_keycode;
        for (int k = 0; k < count && found == 0; ++k) {
            for (int s = 0; s < per; ++s) {
                if (syms[k * per + s] == sym) {
                    found = (xcb_keycode_t)(first + k);
                    break;
                }
            }
        }
        free(map);
    }
    return found;
}

static int sample_points(int want, int16_t* xs, int16_t* ys) {
    xcb_randr_get_monitors_reply_t* monitors =
        xcb_randr_get_monitors_reply(conn, xcb_randr_get_monitors(conn, screen->root, 1), NULL);
    int count = 0;
    if (monitors != NULL) {
        for (xcb_randr_monitor_info_iterator_t it =
                 xcb_randr_get_monitors_monitors_iterator(monitors);
             it.rem > 0 && count < want && count < MAX_MONITORS; xcb_randr_monitor_info_next(&it)) {
            /* Near the bottom-right corner, away from the panel, the tray and the menu. */
            xs[count] = (int16_t)(it.data->x + it.data->width - 4);
            ys[count] = (int16_t)(it.data->y + it.data->height - 4);
            ++count;
        }
        free(monitors);
    }
    return count;
}

/* The pixels at the sample points, read in one batch of requests. */
static void read_pixels(int count, const int16_t* xs, const int16_t* ys, uint32_t* out) {
    xcb_get_image_cookie_t cookies[MAX_MONITORS];
    for (int i = 0; i < count; ++i) {
        cookies[i] = xcb_get_image(conn, XCB_IMAGE_FORMAT_Z_PIXMAP, screen->root, xs[i], ys[i], 1,
                                   1, 0xffffffff);
    }
    for (int i = 0; i < count; ++i) {
        xcb_get_image_reply_t* image = xcb_get_image_reply(conn, cookies[i], NULL);
        out[i] = 0;
        if (image != NULL && xcb_get_image_data_length(image) >= 4) {
            memcpy(&out[i], xcb_get_image_data(image), 4);
        }
        free(image);
    }
}

/* The time x11/repaint_clock.c wrote into `path`, in ms on CLOCK_MONOTONIC; -1 if none. */
static double repaint_flushed_ms(const char* path) {
    FILE* file = fopen(path, "r");
    long long ns = -1;
    if (file != NULL) {
        if (fscanf(file, "%lld", &ns) != 1) {
            ns = -1;
        }
        fclose(file);
    }
    return ns < 0 ? -1.0 : (double)ns / 1e6;
}

static int command_fanout(int want, int repeat, const char* clock_file) {
    const xcb_query_extension_reply_t* xtest = xcb_get_extension_data(conn, &xtest_extension);
    if (xtest == NULL || !xtest->present) {
        fprintf(stderr, "x11_probe: the server has no XTEST\n");
        return 1;
    }
    const xcb_keycode_t up = keycode_for(0xff52);
    const xcb_keycode_t down = keycode_for(0xff54);
    int16_t xs[MAX_MONITORS];
    int16_t ys[MAX_MONITORS];
    const int points = sample_points(want, xs, ys);
    if (up == 0 || down == 0 || points != want) {
        fprintf(stderr, "x11_probe: no Up/Down keys or fewer than %d monitors\n", want);
        return 1;
    }
    uint32_t before[MAX_MONITORS];
    uint32_t seen[MAX_MONITORS];
    double* samples = calloc((size_t)repeat, sizeof *samples);
    double* flushed = calloc((size_t)repeat, sizeof *flushed);
    int flushes = 0;
    for (int r = 0; r < repeat; ++r) {
        read_pixels(points, xs, ys, before);
        const xcb_keycode_t key = (r % 2 == 0) ? up : down;
        const double start = now_ms();
        fake_key(XCB_KEY_PRESS, key);
        fake_key(XCB_KEY_RELEASE, key);
        xcb_flush(conn);
        double end = -1.0;
        while (end < 0.0) {
            read_pixels(points, xs, ys, seen);
            int all = 1;
            for (int i = 0; i < points; ++i) {
                all &= seen[i] != before[i];
            }
            const double t = now_ms();
            if (all) {
                end = t;
            } else if (t - start > 5000.0) {
                fprintf(stderr, "x11_probe: the screen did not change colour within 5 s\n");
                return 1;
            }
        }
        samples[r] = end - start;
        printf("fanout_ms=%.3f pixel=%06x", samples[r], seen[0] & 0xffffff);
        /* Every monitor shows the new colour, so the program has flushed every repaint. */
        const double flush = clock_file != NULL ? repaint_flushed_ms(clock_file) : -1.0;
        if (flush >= start) {
            flushed[flushes] = flush - start;
            printf(" flushed_ms=%.3f", flushed[flushes++]);
        }
        printf("\n");
        /* Lets the program finish the change (its defaults write) before the next one. */
        sleep_ms(100.0);
    }
    summary("fanout", samples, repeat, want);
    if (flushes > 0) {
        summary("fanout_flushed", flushed, flushes, want);
    }
    free(samples);
    free(flushed);
    return 0;
}

int main(int argc, char** argv) {
    if (argc >= 4 && strcmp(argv[1], "start") == 0) {
        connect_or_die();
        return command_start(atoi(argv[2]), argv + 3);
    }
    if ((argc == 4 || argc == 5) && strcmp(argv[1], "wait") == 0) {
        connect_or_die();
        return command_wait(atoi(argv[2]), (uint32_t)strtoul(argv[3], NULL, 10),
                            argc == 5 ? atof(argv[4]) : 10000.0);
    }
    if ((argc == 5 || (argc == 6 && strcmp(argv[5], "kept") == 0)) &&
        strcmp(argv[1], "rebuild") == 0) {
        count_kept = argc == 6;
        connect_or_die();
        return command_rebuild(atoi(argv[2]), (uint32_t)strtoul(argv[3], NULL, 10), atoi(argv[4]));
    }
    if ((argc == 5 || argc == 6) && strcmp(argv[1], "fanout") == 0) {
        connect_or_die();
        return command_fanout(atoi(argv[2]), atoi(argv[4]), argc == 6 ? argv[5] : NULL);
    }
    fprintf(stderr,
            "usage: %s start N PROGRAM [ARG...] | wait N PID [TIMEOUT_MS] |\n"
            "       rebuild N PID REPEAT [kept] | fanout N PID REPEAT [CLOCK_FILE]\n",
            argv[0]);
    return 2;
}
