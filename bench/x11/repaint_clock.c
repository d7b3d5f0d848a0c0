/* Tells when a program last sent its overlays' repaint requests to the X server: the time,
 * on CLOCK_MONOTONIC, of the first xcb_flush after one or more xcb_clear_area calls (an
 * overlay's colour change clears the whole window and flushes). Loaded into the program with
 * LD_PRELOAD, in front of libxcb's own calls:
 *
 *   REPAINT_CLOCK_FILE=FILE LD_PRELOAD=.../librepaint_clock.so PROGRAM
 *
 * FILE holds that time in nanoseconds, rewritten at every such flush, so that a benchmark on
 * the same machine can set it beside the time it pressed a key (x11_probe fanout). */

#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include "next_symbol.h"

typedef xcb_void_cookie_t (*clear_area_fn)(xcb_connection_t*, uint8_t, xcb_window_t, int16_t,
                                           int16_t, uint16_t, uint16_t);
typedef int (*flush_fn)(xcb_connection_t*);

static int cleared;

/* The file is opened once and rewritten in place with a number of fixed width: truncating
 * it on every flush would make the file system write it back, which costs more than what is
 * measured. */
static void write_time(void) {
    static int fd = -2;
    if (fd == -2) {
        const char* path = getenv("REPAINT_CLOCK_FILE");
        fd = path != NULL ? open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600) : -1;
    }
    if (fd < 0) {
        return;
    }
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    char line[32];
    const int length = snprintf(line, sizeof line, "%020lld\n",
                                (long long)now.tv_sec * 1000000000LL + now.tv_nsec);
    if (length <= 0 || pwrite(fd, line, (size_t)length, 0) != length) {
        fprintf(stderr, "repaint_clock: cannot write the time\n");
    }
}

xcb_void_cookie_t xcb_clear_area(xcb_connection_t* connection, uint8_t exposures,
                                 xcb_window_t window, int16_t x, int16_t y, uint16_t width,
                                 uint16_t height) {
    clear_area_fn next;
    next_symbol("xcb_clear_area", &next, sizeof next);
    cleared = 1;
    return next(connection, exposures, window, x, y, width, height);
}

int xcb_flush(xcb_connection_t* connection) {
    flush_fn next;
    next_symbol("xcb_flush", &next, sizeof next);
    const int result = next(connection);
    if (cleared) {
        cleared = 0;
        write_time();
    }
    return result;
}
