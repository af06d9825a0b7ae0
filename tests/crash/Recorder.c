/* Preloaded into a program under test (LD_PRELOAD): records every call that
 * changes a file or a folder under TORVEX_CRASH_ROOT, in the order the calls
 * completed, to the file TORVEX_CRASH_LOG. CrashModel.cpp replays the
 * record. One record per line; a write's bytes follow its line:
 *
 *   K id path            an existing file, first met at path
 *   C id path            a file created at path
 *   N id                 a file created without a name (O_TMPFILE)
 *   W id offset length   then `length` bytes and a newline
 *   T id size            truncated (also O_TRUNC)
 *   S id                 the file flushed (fsync, fdatasync)
 *   D path               the folder flushed
 *   R from to            renamed
 *   L id to              linked from an open file
 *   P from to            linked from a path
 *   U path               removed (a file, or a folder: rmdir)
 *   M path               folder made
 *   E id sec nsec        last-write time set
 *
 * Ids are "pid.n", so that a forked child never reuses its parent's. Paths
 * are absolute, their folders with links resolved; they hold no blanks or
 * newlines under the roots the tests use. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

#define MAX_FDS 4096

struct Tracked {
    int used;
    int folder;
    char id[32];         /* a file */
    char path[PATH_MAX]; /* a folder */
};

static struct Tracked fds[MAX_FDS];
static pthread_mutex_t lock = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;
static char root[PATH_MAX];
static size_t rootLength;
static int logFd = -1;
static long nextId;
static int ready;

/* Known inodes: dev/ino to id. A created file replaces the entry. */
struct Known {
    dev_t dev;
    ino_t ino;
    char id[32];
};
static struct Known* known;
static size_t knownCount, knownCapacity;

#define REAL(ret, name, ...)                                                                                 \
    static ret (*real_##name)(__VA_ARGS__);                                                                  \
    if (!real_##name)                                                                                        \
        real_##name = (ret(*)(__VA_ARGS__))dlsym(RTLD_NEXT, #name);

static void Setup(void) {
    if (ready)
        return;
    ready = 1;
    const char* r = getenv("TORVEX_CRASH_ROOT");
    const char* l = getenv("TORVEX_CRASH_LOG");
    if (!r || !l || !realpath(r, root))
        return;
    rootLength = strlen(root);
    logFd = (int)syscall(SYS_open, l, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

/* Writes one record with one system call, so that processes never mix records. */
static void Emit(const char* line, const void* data, size_t length) {
    if (logFd < 0)
        return;
    const size_t head = strlen(line);
    char* buffer = malloc(head + length + 1);
    if (!buffer)
        abort();
    memcpy(buffer, line, head);
    if (data)
        memcpy(buffer + head, data, length);
    size_t total = head + (data ? length + 1 : 0);
    if (data)
        buffer[total - 1] = '\n';
    for (size_t done = 0; done < total;) {
        const ssize_t n = syscall(SYS_write, logFd, buffer + done, total - done);
        if (n <= 0)
            abort(); /* a record with a gap would prove nothing */
        done += (size_t)n;
    }
    free(buffer);
}

static int UnderRoot(const char* path) {
    return rootLength > 0 && strncmp(path, root, rootLength) == 0 &&
           (path[rootLength] == '/' || path[rootLength] == 0);
}

/* The absolute path of `path` relative to `dirfd`, its folder's links
 * resolved, the last part kept as given. 0 when it lies outside the root. */
static int Resolve(int dirfd, const char* path, char out[PATH_MAX]) {
    if (!path || logFd < 0)
        return 0;
    char joined[PATH_MAX * 2];
    if (path[0] == '/') {
        snprintf(joined, sizeof joined, "%s", path);
    } else {
        char base[PATH_MAX];
        if (dirfd == AT_FDCWD) {
            if (!getcwd(base, sizeof base))
                return 0;
        } else {
            char proc[64];
            snprintf(proc, sizeof proc, "/proc/self/fd/%d", dirfd);
            const ssize_t n = readlink(proc, base, sizeof base - 1);
            if (n < 0)
                return 0;
            base[n] = 0;
        }
        snprintf(joined, sizeof joined, "%s/%s", base, path);
    }
    size_t len = strlen(joined);
    while (len > 1 && joined[len - 1] == '/')
        joined[--len] = 0;
    char* slash = strrchr(joined, '/');
    char folder[PATH_MAX];
    if (slash == joined) {
        snprintf(out, PATH_MAX, "%s", joined);
    } else {
        *slash = 0;
        if (!realpath(joined, folder))
            return 0;
        if (snprintf(out, PATH_MAX, "%s/%s", folder, slash + 1) >= PATH_MAX)
            return 0;
    }
    return UnderRoot(out);
}

static struct Known* FindKnown(dev_t dev, ino_t ino) {
    for (size_t i = 0; i < knownCount; ++i)
        if (known[i].dev == dev && known[i].ino == ino)
            return &known[i];
    return NULL;
}

/* A file that loses its last name may come back as another file with the same inode. */
static void ForgetIfLastName(const char* path) {
    struct stat st;
    if (lstat(path, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink > 1)
        return;
    struct Known* k = FindKnown(st.st_dev, st.st_ino);
    if (k)
        *k = known[--knownCount];
}

static const char* NewId(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0)
        abort();
    struct Known* k = FindKnown(st.st_dev, st.st_ino);
    if (!k) {
        if (knownCount == knownCapacity) {
            knownCapacity = knownCapacity ? knownCapacity * 2 : 64;
            known = realloc(known, knownCapacity * sizeof *known);
            if (!known)
                abort();
        }
        k = &known[knownCount++];
        k->dev = st.st_dev;
        k->ino = st.st_ino;
    }
    snprintf(k->id, sizeof k->id, "%ld.%ld", (long)getpid(), ++nextId);
    return k->id;
}

/* The id of the file open as fd, met under `path`: a file seen before keeps its id. */
static const char* IdOf(int fd, const char* path) {
    struct stat st;
    if (fstat(fd, &st) != 0)
        abort();
    struct Known* k = FindKnown(st.st_dev, st.st_ino);
    if (k)
        return k->id;
    const char* id = NewId(fd);
    char line[PATH_MAX + 64];
    snprintf(line, sizeof line, "K %s %s\n", id, path);
    Emit(line, NULL, 0);
    return id;
}

static void Track(int fd, int flags, const char* path, int existed) {
    if (fd < 0 || fd >= MAX_FDS)
        return;
    struct Tracked* t = &fds[fd];
    memset(t, 0, sizeof *t);
    struct stat st;
    if (fstat(fd, &st) != 0)
        return;
    char line[PATH_MAX + 64];
    if (S_ISDIR(st.st_mode) && (flags & O_TMPFILE) != O_TMPFILE) {
        t->used = 1;
        t->folder = 1;
        snprintf(t->path, sizeof t->path, "%s", path);
        return;
    }
    if (!S_ISREG(st.st_mode))
        return;
    t->used = 1;
    if ((flags & O_TMPFILE) == O_TMPFILE) {
        snprintf(t->id, sizeof t->id, "%s", NewId(fd));
        snprintf(line, sizeof line, "N %s\n", t->id);
        Emit(line, NULL, 0);
        return;
    }
    if (!existed && (flags & O_CREAT)) {
        snprintf(t->id, sizeof t->id, "%s", NewId(fd));
        snprintf(line, sizeof line, "C %s %s\n", t->id, path);
        Emit(line, NULL, 0);
        return;
    }
    snprintf(t->id, sizeof t->id, "%s", IdOf(fd, path));
    if ((flags & O_TRUNC) && (flags & O_ACCMODE) != O_RDONLY) {
        snprintf(line, sizeof line, "T %s 0\n", t->id);
        Emit(line, NULL, 0);
    }
}

static int OpenCommon(int dirfd, const char* path, int flags, mode_t mode) {
    REAL(int, openat, int, const char*, int, ...)
    pthread_mutex_lock(&lock);
    Setup();
    char full[PATH_MAX];
    const int watched = Resolve(dirfd, path, full);
    int existed = 1;
    if (watched && (flags & O_CREAT)) {
        struct stat st;
        existed = lstat(full, &st) == 0;
    }
    const int fd = real_openat(dirfd, path, flags, mode);
    if (fd >= 0 && fd < MAX_FDS)
        fds[fd].used = 0;
    if (watched && fd >= 0)
        Track(fd, flags, full, existed);
    pthread_mutex_unlock(&lock);
    return fd;
}

static mode_t ModeArg(int flags, va_list ap) {
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? (mode_t)va_arg(ap, int) : 0;
}

/* An open call whose mode, if any, follows its flags; `...` its parameters
 * before the flags, ending with `path`. */
#define OPEN_WITH_MODE(name, dirfd, ...)                                                                     \
    int name(__VA_ARGS__, int flags, ...) {                                                                  \
        va_list ap;                                                                                          \
        va_start(ap, flags);                                                                                 \
        const mode_t mode = ModeArg(flags, ap);                                                              \
        va_end(ap);                                                                                          \
        return OpenCommon(dirfd, path, flags, mode);                                                         \
    }
OPEN_WITH_MODE(open, AT_FDCWD, const char* path)
OPEN_WITH_MODE(open64, AT_FDCWD, const char* path)
OPEN_WITH_MODE(openat, dirfd, int dirfd, const char* path)
OPEN_WITH_MODE(openat64, dirfd, int dirfd, const char* path)
int __open_2(const char* path, int flags) {
    return OpenCommon(AT_FDCWD, path, flags, 0);
}
int __open64_2(const char* path, int flags) {
    return OpenCommon(AT_FDCWD, path, flags, 0);
}
int creat(const char* path, mode_t mode) {
    return OpenCommon(AT_FDCWD, path, O_CREAT | O_WRONLY | O_TRUNC, mode);
}
int creat64(const char* path, mode_t mode) {
    return OpenCommon(AT_FDCWD, path, O_CREAT | O_WRONLY | O_TRUNC, mode);
}

static const struct Tracked* File(int fd) {
    return fd >= 0 && fd < MAX_FDS && fds[fd].used && !fds[fd].folder ? &fds[fd] : NULL;
}

static void RecordWrite(int fd, off_t offset, const void* data, ssize_t n) {
    const struct Tracked* t = File(fd);
    if (!t || n <= 0)
        return;
    char line[128];
    snprintf(line, sizeof line, "W %s %lld %zd\n", t->id, (long long)offset, n);
    Emit(line, data, (size_t)n);
}

ssize_t write(int fd, const void* data, size_t count) {
    REAL(ssize_t, write, int, const void*, size_t)
    if (!File(fd))
        return real_write(fd, data, count);
    pthread_mutex_lock(&lock);
    const ssize_t n = real_write(fd, data, count);
    const int saved = errno;
    if (n > 0)
        RecordWrite(fd, lseek(fd, 0, SEEK_CUR) - n, data, n);
    pthread_mutex_unlock(&lock);
    errno = saved;
    return n;
}

static ssize_t PwriteCommon(int fd, const void* data, size_t count, off_t offset) {
    pthread_mutex_lock(&lock);
    const ssize_t n = (ssize_t)syscall(SYS_pwrite64, fd, data, count, offset);
    const int saved = errno;
    RecordWrite(fd, offset, data, n);
    pthread_mutex_unlock(&lock);
    errno = saved;
    return n;
}
ssize_t pwrite(int fd, const void* data, size_t count, off_t offset) {
    return PwriteCommon(fd, data, count, offset);
}
ssize_t pwrite64(int fd, const void* data, size_t count, off_t offset) {
    return PwriteCommon(fd, data, count, offset);
}

ssize_t writev(int fd, const struct iovec* iov, int count) {
    REAL(ssize_t, writev, int, const struct iovec*, int)
    if (!File(fd))
        return real_writev(fd, iov, count);
    pthread_mutex_lock(&lock);
    const off_t start = lseek(fd, 0, SEEK_CUR);
    const ssize_t n = real_writev(fd, iov, count);
    const int saved = errno;
    off_t at = (fcntl(fd, F_GETFL) & O_APPEND) ? lseek(fd, 0, SEEK_CUR) - n : start;
    ssize_t left = n;
    for (int i = 0; i < count && left > 0; ++i) {
        const ssize_t part = (ssize_t)iov[i].iov_len < left ? (ssize_t)iov[i].iov_len : left;
        RecordWrite(fd, at, iov[i].iov_base, part);
        at += part;
        left -= part;
    }
    pthread_mutex_unlock(&lock);
    errno = saved;
    return n;
}

static int TruncateCommon(int fd, off_t size) {
    pthread_mutex_lock(&lock);
    const int r = (int)syscall(SYS_ftruncate, fd, size);
    const int saved = errno;
    const struct Tracked* t = File(fd);
    if (r == 0 && t) {
        char line[128];
        snprintf(line, sizeof line, "T %s %lld\n", t->id, (long long)size);
        Emit(line, NULL, 0);
    }
    pthread_mutex_unlock(&lock);
    errno = saved;
    return r;
}
int ftruncate(int fd, off_t size) {
    return TruncateCommon(fd, size);
}
int ftruncate64(int fd, off_t size) {
    return TruncateCommon(fd, size);
}

static int SyncCommon(int fd, int data) {
    pthread_mutex_lock(&lock);
    const int r = (int)syscall(data ? SYS_fdatasync : SYS_fsync, fd);
    const int saved = errno;
    if (r == 0 && fd >= 0 && fd < MAX_FDS && fds[fd].used) {
        char line[PATH_MAX + 64];
        if (fds[fd].folder)
            snprintf(line, sizeof line, "D %s\n", fds[fd].path);
        else
            snprintf(line, sizeof line, "S %s\n", fds[fd].id);
        Emit(line, NULL, 0);
    }
    pthread_mutex_unlock(&lock);
    errno = saved;
    return r;
}
int fsync(int fd) {
    return SyncCommon(fd, 0);
}
int fdatasync(int fd) {
    return SyncCommon(fd, 1);
}

static void TimesCommon(int fd, const struct timespec* times) {
    const struct Tracked* t = File(fd);
    if (!t)
        return;
    struct stat st;
    if (times && times[1].tv_nsec == UTIME_OMIT)
        return;
    if (fstat(fd, &st) != 0)
        return;
    char line[128];
    snprintf(line, sizeof line, "E %s %lld %ld\n", t->id, (long long)st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    Emit(line, NULL, 0);
}
int futimens(int fd, const struct timespec times[2]) {
    pthread_mutex_lock(&lock);
    const int r = (int)syscall(SYS_utimensat, fd, NULL, times, 0);
    const int saved = errno;
    if (r == 0)
        TimesCommon(fd, times);
    pthread_mutex_unlock(&lock);
    errno = saved;
    return r;
}

static int RenameCommon(int oldDir, const char* from, int newDir, const char* to, unsigned flags) {
    pthread_mutex_lock(&lock);
    Setup();
    char a[PATH_MAX], b[PATH_MAX];
    const int watchedA = Resolve(oldDir, from, a), watchedB = Resolve(newDir, to, b);
    if (watchedB)
        ForgetIfLastName(b);
    const int r = (int)syscall(SYS_renameat2, oldDir, from, newDir, to, flags);
    const int saved = errno;
    if (r == 0 && (watchedA || watchedB)) {
        if (!watchedA || !watchedB || (flags & RENAME_EXCHANGE))
            abort(); /* the tests keep every file they rename under the root */
        char line[2 * PATH_MAX + 8];
        snprintf(line, sizeof line, "R %s %s\n", a, b);
        Emit(line, NULL, 0);
    }
    pthread_mutex_unlock(&lock);
    errno = saved;
    return r;
}
int rename(const char* from, const char* to) {
    return RenameCommon(AT_FDCWD, from, AT_FDCWD, to, 0);
}
int renameat(int oldDir, const char* from, int newDir, const char* to) {
    return RenameCommon(oldDir, from, newDir, to, 0);
}
int renameat2(int oldDir, const char* from, int newDir, const char* to, unsigned flags) {
    return RenameCommon(oldDir, from, newDir, to, flags);
}

static int LinkCommon(int oldDir, const char* from, int newDir, const char* to, int flags) {
    pthread_mutex_lock(&lock);
    Setup();
    char a[PATH_MAX], b[PATH_MAX];
    const int watchedB = Resolve(newDir, to, b);
    int fromFd = -1;
    if ((flags & AT_EMPTY_PATH) && from && !*from)
        fromFd = oldDir;
    else if (from && strncmp(from, "/proc/self/fd/", 14) == 0)
        fromFd = atoi(from + 14);
    const int watchedA = fromFd < 0 && Resolve(oldDir, from, a);
    const int r = (int)syscall(SYS_linkat, oldDir, from, newDir, to, flags);
    const int saved = errno;
    if (r == 0 && watchedB) {
        char line[2 * PATH_MAX + 8];
        if (fromFd >= 0 && File(fromFd))
            snprintf(line, sizeof line, "L %s %s\n", fds[fromFd].id, b);
        else if (watchedA)
            snprintf(line, sizeof line, "P %s %s\n", a, b);
        else
            abort(); /* a file from outside the root */
        Emit(line, NULL, 0);
    }
    pthread_mutex_unlock(&lock);
    errno = saved;
    return r;
}
int link(const char* from, const char* to) {
    return LinkCommon(AT_FDCWD, from, AT_FDCWD, to, 0);
}
int linkat(int oldDir, const char* from, int newDir, const char* to, int flags) {
    return LinkCommon(oldDir, from, newDir, to, flags);
}

static int RemoveCommon(int dirfd, const char* path, int flags) {
    pthread_mutex_lock(&lock);
    Setup();
    char full[PATH_MAX];
    const int watched = Resolve(dirfd, path, full);
    if (watched)
        ForgetIfLastName(full);
    const int r = (int)syscall(SYS_unlinkat, dirfd, path, flags);
    const int saved = errno;
    if (r == 0 && watched) {
        char line[PATH_MAX + 8];
        snprintf(line, sizeof line, "U %s\n", full);
        Emit(line, NULL, 0);
    }
    pthread_mutex_unlock(&lock);
    errno = saved;
    return r;
}
int unlink(const char* path) {
    return RemoveCommon(AT_FDCWD, path, 0);
}
int unlinkat(int dirfd, const char* path, int flags) {
    return RemoveCommon(dirfd, path, flags);
}
int rmdir(const char* path) {
    return RemoveCommon(AT_FDCWD, path, AT_REMOVEDIR);
}
int remove(const char* path) {
    struct stat st;
    const int folder = lstat(path, &st) == 0 && S_ISDIR(st.st_mode);
    return RemoveCommon(AT_FDCWD, path, folder ? AT_REMOVEDIR : 0);
}

static int MkdirCommon(int dirfd, const char* path, mode_t mode) {
    pthread_mutex_lock(&lock);
    Setup();
    char full[PATH_MAX];
    const int watched = Resolve(dirfd, path, full);
    const int r = (int)syscall(SYS_mkdirat, dirfd, path, mode);
    const int saved = errno;
    if (r == 0 && watched) {
        char line[PATH_MAX + 8];
        snprintf(line, sizeof line, "M %s\n", full);
        Emit(line, NULL, 0);
    }
    pthread_mutex_unlock(&lock);
    errno = saved;
    return r;
}
int mkdir(const char* path, mode_t mode) {
    return MkdirCommon(AT_FDCWD, path, mode);
}
int mkdirat(int dirfd, const char* path, mode_t mode) {
    return MkdirCommon(dirfd, path, mode);
}

static void Copy(int from, int to) {
    if (from >= 0 && from < MAX_FDS && to >= 0 && to < MAX_FDS && to != from)
        fds[to] = fds[from];
}
int dup(int fd) {
    pthread_mutex_lock(&lock);
    const int r = (int)syscall(SYS_dup, fd);
    const int saved = errno;
    Copy(fd, r);
    pthread_mutex_unlock(&lock);
    errno = saved;
    return r;
}
int dup3(int fd, int to, int flags) {
    pthread_mutex_lock(&lock);
    const int r = (int)syscall(SYS_dup3, fd, to, flags);
    const int saved = errno;
    if (r >= 0)
        Copy(fd, r);
    pthread_mutex_unlock(&lock);
    errno = saved;
    return r;
}
int dup2(int fd, int to) {
    return fd == to ? to : dup3(fd, to, 0);
}

int close(int fd) {
    pthread_mutex_lock(&lock);
    if (fd >= 0 && fd < MAX_FDS)
        fds[fd].used = 0;
    const int r = (int)syscall(SYS_close, fd);
    const int saved = errno;
    pthread_mutex_unlock(&lock);
    errno = saved;
    return r;
}
