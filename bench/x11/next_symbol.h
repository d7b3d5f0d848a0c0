/* What the LD_PRELOAD shims of the X11 benchmarks (stacking_count.c, repaint_clock.c) call
 * through to. */
#pragma once

#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* The next definition of `name` after the shim's own, as a function pointer (ISO C has no
 * conversion from dlsym's object pointer); the process ends if there is none. */
static inline void next_symbol(const char* name, void* out, size_t size) {
    void* symbol = dlsym(RTLD_NEXT, name);
    if (symbol == NULL) {
        fprintf(stderr, "%s: no %s to call through to\n", __FILE__, name);
        abort();
    }
    memcpy(out, &symbol, size);
}
