/* Counts what a program asks of the window manager's stacking: its reads of the root's
 * _NET_CLIENT_LIST_STACKING (GetProperty) and the _NET_RESTACK_WINDOW requests it sends.
 * Loaded into the program with LD_PRELOAD, in front of libxcb's own calls:
 *
 *   STACKING_COUNT_FILE=FILE LD_PRELOAD=.../libstacking_count.so PROGRAM
 *
 * FILE holds "reads=R restacks=S" after every counted call, so that a benchmark reads the
 * counts while the program runs. The two atoms are looked up on the first call, one round
 * trip on the program's connection. */

#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include "next_symbol.h"

typedef xcb_get_property_cookie_t (*get_property_fn)(xcb_connection_t*, uint8_t, xcb_window_t,
                                                     xcb_atom_t, xcb_atom_t, uint32_t, uint32_t);
typedef xcb_void_cookie_t (*send_event_fn)(xcb_connection_t*, uint8_t, xcb_window_t, uint32_t,
                                           const char*);
typedef xcb_intern_atom_cookie_t (*intern_fn)(xcb_connection_t*, uint8_t, uint16_t, const char*);
typedef xcb_intern_atom_reply_t* (*intern_reply_fn)(xcb_connection_t*, xcb_intern_atom_cookie_t,
                                                    xcb_generic_error_t**);

static xcb_atom_t stacking_atom = XCB_ATOM_NONE;
static xcb_atom_t restack_atom = XCB_ATOM_NONE;
static int atoms_known;
static unsigned long reads;
static unsigned long restacks;

static xcb_atom_t lookup(xcb_connection_t* connection, const char* name) {
    intern_fn intern;
    intern_reply_fn intern_reply;
    next_symbol("xcb_intern_atom", &intern, sizeof intern);
    next_symbol("xcb_intern_atom_reply", &intern_reply, sizeof intern_reply);
    xcb_intern_atom_reply_t* reply =
        intern_reply(connection, intern(connection, 0, (uint16_t)strlen(name), name), NULL);
    const xcb_atom_t atom = reply != NULL ? reply->atom : XCB_ATOM_NONE;
    free(reply);
    return atom;
}

static void know_atoms(xcb_connection_t* connection) {
    if (!atoms_known) {
        atoms_known = 1;
        stacking_atom = lookup(connection, "_NET_CLIENT_LIST_STACKING");
        restack_atom = lookup(connection, "_NET_RESTACK_WINDOW");
    }
}

static void write_counts(void) {
    const char* path = getenv("STACKING_COUNT_FILE");
    if (path == NULL) {
        return;
    }
    char line[64];
    const int length = snprintf(line, sizeof line, "reads=%lu restacks=%lu\n", reads, restacks);
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd >= 0 && length > 0) {
        if (write(fd, line, (size_t)length) != length) {
            fprintf(stderr, "stacking_count: cannot write %s\n", path);
        }
    }
    if (fd >= 0) {
        close(fd);
    }
}

xcb_get_property_cookie_t xcb_get_property(xcb_connection_t* connection, uint8_t remove,
                                           xcb_window_t window, xcb_atom_t property,
                                           xcb_atom_t type, uint32_t offset, uint32_t length) {
    get_property_fn next;
    next_symbol("xcb_get_property", &next, sizeof next);
    know_atoms(connection);
    if (property == stacking_atom && property != XCB_ATOM_NONE) {
        ++reads;
        write_counts();
    }
    return next(connection, remove, window, property, type, offset, length);
}

xcb_void_cookie_t xcb_send_event(xcb_connection_t* connection, uint8_t propagate,
                                 xcb_window_t destination, uint32_t mask, const char* event) {
    send_event_fn next;
    next_symbol("xcb_send_event", &next, sizeof next);
    know_atoms(connection);
    xcb_client_message_event_t message;
    memcpy(&message, event, sizeof message);
    if ((message.response_type & 0x7f) == XCB_CLIENT_MESSAGE && message.type == restack_atom &&
        restack_atom != XCB_ATOM_NONE) {
        ++restacks;
        write_counts();
    }
    return next(connection, propagate, destination, mask, event);
}
