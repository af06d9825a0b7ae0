/* Preloaded into a program under measurement (LD_PRELOAD): counts every
 * flush to disk (fsync, fdatasync, syncfs, sync) and makes each one take
 * TORVEX_FLUSH_DELAY_MS milliseconds, as on an SD card or an old disk. At
 * exit the count is appended as one line to TORVEX_FLUSH_COUNT_FILE. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

static atomic_long flushes;

static void Delay(void) {
    atomic_fetch_add(&flushes, 1);
    const char* ms = getenv("TORVEX_FLUSH_DELAY_MS");
    const long delay = ms ? atol(ms) : 0;
    if (delay > 0) {
        struct timespec t = {delay / 1000, (delay % 1000) * 1000000L};
        while (nanosleep(&t, &t) != 0) {
        }
    }
}

__attribute__((destructor)) static void Report(void) {
    const char* path = getenv("TORVEX_FLUSH_COUNT_FILE");
    FILE* out = path ? fopen(path, "a") : NULL;
    if (out) {
        fprintf(out, "%ld\n", (long)atomic_load(&flushes));
        fclose(out);
    }
}

int fsync(int fd) {
    static int (*real)(int);
    if (!real)
        real = (int (*)(int))dlsym(RTLD_NEXT, "fsync");
    Delay();
    return real(fd);
}

int fdatasync(int fd) {
    static int (*real)(int);
    if (!real)
        real = (int (*)(int))dlsym(RTLD_NEXT, "fdatasync");
    Delay();
    return real(fd);
}

int syncfs(int fd) {
    static int (*real)(int);
    if (!real)
        real = (int (*)(int))dlsym(RTLD_NEXT, "syncfs");
    Delay();
    return real(fd);
}

void sync(void) {
    static void (*real)(void);
    if (!real)
        real = (void (*)(void))dlsym(RTLD_NEXT, "sync");
    Delay();
    real();
}
