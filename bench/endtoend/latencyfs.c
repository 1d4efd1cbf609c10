/* A read-only passthrough file system that behaves like a file share far away: every request the
 * kernel sends waits a set time before it is answered, and every request is counted by its kind.
 * The kernel keeps names and attributes for a set time (1 s by default, as SMB clients do), and
 * listings return the entries' attributes with the names (as SMB's directory queries do), so a
 * program that opens a file soon after listing its folder needs no further look-up.
 *
 * A share answers the close of a handle once. The kernel sends two requests when a file is
 * closed: a flush, which the closing program waits for, and then a release, which it does not.
 * The flush stands for the share's close here; the release is counted apart and answered at once
 * (as are forgets, which are never answered at all). A folder's close is its release.
 *
 *   latencyfs [--timeout SECONDS] [--threads N] CONTROL SOURCE MOUNTPOINT
 *
 * CONTROL is a file the tool creates: an array of little-endian 64-bit words that another program
 * reads and writes while the file system runs (see the Control enumeration). Writing the delay
 * word changes the delay at once; zeroing the counters starts a new count. The tool stays in the
 * foreground until the mount point is unmounted (fusermount3 -u MOUNTPOINT). */

#define FUSE_USE_VERSION 312
#define _GNU_SOURCE

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <fuse_lowlevel.h>
#include <pthread.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

/* The words of the control file. The counters follow the kind enumeration. */
enum Control
{
    ControlMagic,
    ControlDelayNs,
    ControlFirstCounter
};

enum Kind
{
    KindLookup,
    KindGetattr,
    KindOpendir,
    KindReaddir,
    KindReleasedir,
    KindOpen,
    KindRead,
    KindFlush,
    KindRelease,
    KindStatfs,
    KindReadlink,
    KindOther,
    KindForget, /* neither answered nor delayed */
    KindCount
};

static const uint64_t kMagic = 0x3173666379746c61ull;
static const char* const kKindNames[KindCount] = {
    "lookup", "getattr", "opendir", "readdir",  "releasedir", "open",   "read",
    "flush",  "release", "statfs",  "readlink", "other",      "forget",
};

static volatile uint64_t* g_control;
static double g_timeout = 1.0;

static void request(enum Kind kind)
{
    __atomic_fetch_add(&g_control[ControlFirstCounter + kind], 1, __ATOMIC_RELAXED);
    if (kind == KindForget || kind == KindRelease)
        return;
    const uint64_t delay = __atomic_load_n(&g_control[ControlDelayNs], __ATOMIC_RELAXED);
    if (delay == 0)
        return;
    struct timespec wait = {(time_t)(delay / 1000000000u), (long)(delay % 1000000000u)};
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}

/* One file or folder the kernel knows, held open by an O_PATH descriptor. */
struct Node
{
    struct Node* next;
    dev_t dev;
    ino_t ino;
    int fd;
    uint64_t lookups;
};

static struct Node g_root;
static pthread_mutex_t g_nodesLock = PTHREAD_MUTEX_INITIALIZER;
#define NODE_BUCKETS 65536
static struct Node* g_buckets[NODE_BUCKETS];

static size_t bucketOf(dev_t dev, ino_t ino)
{
    return (size_t)((ino * 0x9e3779b97f4a7c15ull) ^ dev) % NODE_BUCKETS;
}

static struct Node* nodeOf(fuse_ino_t ino)
{
    return ino == FUSE_ROOT_ID ? &g_root : (struct Node*)(uintptr_t)ino;
}

/* The node for the file behind fd, found or made, with one more look-up; takes fd over. */
static struct Node* remember(int fd, const struct stat* st)
{
    pthread_mutex_lock(&g_nodesLock);
    const size_t b = bucketOf(st->st_dev, st->st_ino);
    struct Node* node = g_buckets[b];
    while (node && !(node->dev == st->st_dev && node->ino == st->st_ino))
        node = node->next;
    if (node) {
        close(fd);
    } else {
        node = calloc(1, sizeof *node);
        if (!node) {
            pthread_mutex_unlock(&g_nodesLock);
            close(fd);
            return NULL;
        }
        node->dev = st->st_dev;
        node->ino = st->st_ino;
        node->fd = fd;
        node->next = g_buckets[b];
        g_buckets[b] = node;
    }
    ++node->lookups;
    pthread_mutex_unlock(&g_nodesLock);
    return node;
}

static void forgetNode(fuse_ino_t ino, uint64_t count)
{
    struct Node* node = nodeOf(ino);
    if (node == &g_root)
        return;
    pthread_mutex_lock(&g_nodesLock);
    node->lookups -= count < node->lookups ? count : node->lookups;
    if (node->lookups == 0) {
        struct Node** link = &g_buckets[bucketOf(node->dev, node->ino)];
        while (*link != node)
            link = &(*link)->next;
        *link = node->next;
        close(node->fd);
        free(node);
    }
    pthread_mutex_unlock(&g_nodesLock);
}

/* Looks name up below parent; 0 or an errno value. */
static int lookUp(fuse_ino_t parent, const char* name, struct fuse_entry_param* entry)
{
    memset(entry, 0, sizeof *entry);
    const int fd = openat(nodeOf(parent)->fd, name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return errno;
    if (fstatat(fd, "", &entry->attr, AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW) != 0) {
        const int error = errno;
        close(fd);
        return error;
    }
    struct Node* node = remember(fd, &entry->attr);
    if (!node)
        return ENOMEM;
    entry->ino = (fuse_ino_t)(uintptr_t)node;
    entry->attr_timeout = g_timeout;
    entry->entry_timeout = g_timeout;
    return 0;
}

static void fsInit(void* data, struct fuse_conn_info* conn)
{
    (void)data;
    /* Every listing returns the attributes with the names, as a share's directory query does. */
    if (conn->capable & FUSE_CAP_READDIRPLUS)
        conn->want |= FUSE_CAP_READDIRPLUS;
    conn->want &= ~(unsigned)FUSE_CAP_READDIRPLUS_AUTO;
}

static void fsLookup(fuse_req_t req, fuse_ino_t parent, const char* name)
{
    request(KindLookup);
    struct fuse_entry_param entry;
    const int error = lookUp(parent, name, &entry);
    if (error)
        fuse_reply_err(req, error);
    else
        fuse_reply_entry(req, &entry);
}

static void fsForget(fuse_req_t req, fuse_ino_t ino, uint64_t count)
{
    request(KindForget);
    forgetNode(ino, count);
    fuse_reply_none(req);
}

static void fsForgetMulti(fuse_req_t req, size_t count, struct fuse_forget_data* forgets)
{
    request(KindForget);
    for (size_t k = 0; k < count; ++k)
        forgetNode(forgets[k].ino, forgets[k].nlookup);
    fuse_reply_none(req);
}

static void fsGetattr(fuse_req_t req, fuse_ino_t ino, struct fuse_file_info* fi)
{
    (void)fi;
    request(KindGetattr);
    struct stat st;
    if (fstatat(nodeOf(ino)->fd, "", &st, AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW) != 0)
        fuse_reply_err(req, errno);
    else
        fuse_reply_attr(req, &st, g_timeout);
}

static void fsReadlink(fuse_req_t req, fuse_ino_t ino)
{
    request(KindReadlink);
    char target[PATH_MAX + 1];
    const ssize_t n = readlinkat(nodeOf(ino)->fd, "", target, PATH_MAX);
    if (n < 0) {
        fuse_reply_err(req, errno);
        return;
    }
    target[n] = '\0';
    fuse_reply_readlink(req, target);
}

/* An open folder: its stream and where the last listing request stopped. */
struct Listing
{
    DIR* dir;
    struct dirent* pending;
    off_t offset;
};

static int reopen(fuse_ino_t ino, int flags)
{
    char path[64];
    snprintf(path, sizeof path, "/proc/self/fd/%d", nodeOf(ino)->fd);
    return open(path, flags | O_CLOEXEC);
}

static void fsOpendir(fuse_req_t req, fuse_ino_t ino, struct fuse_file_info* fi)
{
    request(KindOpendir);
    struct Listing* listing = calloc(1, sizeof *listing);
    const int fd = listing ? reopen(ino, O_RDONLY | O_DIRECTORY) : -1;
    if (fd < 0) {
        const int error = listing ? errno : ENOMEM;
        free(listing);
        fuse_reply_err(req, error);
        return;
    }
    listing->dir = fdopendir(fd);
    if (!listing->dir) {
        const int error = errno;
        close(fd);
        free(listing);
        fuse_reply_err(req, error);
        return;
    }
    fi->fh = (uint64_t)(uintptr_t)listing;
    fuse_reply_open(req, fi);
}

static void fsReaddirplus(fuse_req_t req, fuse_ino_t ino, size_t size, off_t offset,
                          struct fuse_file_info* fi)
{
    request(KindReaddir);
    struct Listing* listing = (struct Listing*)(uintptr_t)fi->fh;
    char* buffer = malloc(size);
    if (!buffer) {
        fuse_reply_err(req, ENOMEM);
        return;
    }
    if (offset != listing->offset) {
        seekdir(listing->dir, offset);
        listing->pending = NULL;
        listing->offset = offset;
    }
    size_t used = 0;
    for (;;) {
        struct dirent* d = listing->pending;
        if (!d) {
            errno = 0;
            d = readdir(listing->dir);
            if (!d)
                break;
        }
        listing->pending = d;
        struct fuse_entry_param entry;
        memset(&entry, 0, sizeof entry);
        const int dots = strcmp(d->d_name, ".") == 0 || strcmp(d->d_name, "..") == 0;
        if (dots) {
            entry.attr.st_ino = d->d_ino;
            entry.attr.st_mode = (mode_t)d->d_type << 12;
        } else if (lookUp(ino, d->d_name, &entry) != 0) {
            listing->pending = NULL;
            listing->offset = d->d_off;
            continue; /* gone since it was listed */
        }
        const size_t need =
            fuse_add_direntry_plus(req, buffer + used, size - used, d->d_name, &entry, d->d_off);
        if (need > size - used) {
            if (!dots)
                forgetNode(entry.ino, 1); /* not handed over; the next request repeats it */
            break;
        }
        used += need;
        listing->pending = NULL;
        listing->offset = d->d_off;
    }
    fuse_reply_buf(req, buffer, used);
    free(buffer);
}

static void fsReleasedir(fuse_req_t req, fuse_ino_t ino, struct fuse_file_info* fi)
{
    (void)ino;
    request(KindReleasedir);
    struct Listing* listing = (struct Listing*)(uintptr_t)fi->fh;
    closedir(listing->dir);
    free(listing);
    fuse_reply_err(req, 0);
}

static void fsOpen(fuse_req_t req, fuse_ino_t ino, struct fuse_file_info* fi)
{
    request(KindOpen);
    if ((fi->flags & O_ACCMODE) != O_RDONLY) {
        fuse_reply_err(req, EROFS);
        return;
    }
    const int fd = reopen(ino, O_RDONLY | (fi->flags & O_NONBLOCK));
    if (fd < 0) {
        fuse_reply_err(req, errno);
        return;
    }
    fi->fh = (uint64_t)fd;
    fuse_reply_open(req, fi);
}

static void fsRead(fuse_req_t req, fuse_ino_t ino, size_t size, off_t offset,
                   struct fuse_file_info* fi)
{
    (void)ino;
    request(KindRead);
    struct fuse_bufvec data = FUSE_BUFVEC_INIT(size);
    data.buf[0].flags = FUSE_BUF_IS_FD | FUSE_BUF_FD_SEEK;
    data.buf[0].fd = (int)fi->fh;
    data.buf[0].pos = offset;
    fuse_reply_data(req, &data, FUSE_BUF_SPLICE_MOVE);
}

static void fsFlush(fuse_req_t req, fuse_ino_t ino, struct fuse_file_info* fi)
{
    (void)ino;
    (void)fi;
    request(KindFlush);
    fuse_reply_err(req, 0);
}

static void fsRelease(fuse_req_t req, fuse_ino_t ino, struct fuse_file_info* fi)
{
    (void)ino;
    request(KindRelease);
    close((int)fi->fh);
    fuse_reply_err(req, 0);
}

static void fsStatfs(fuse_req_t req, fuse_ino_t ino)
{
    request(KindStatfs);
    struct statvfs st;
    if (fstatvfs(nodeOf(ino)->fd, &st) != 0)
        fuse_reply_err(req, errno);
    else
        fuse_reply_statfs(req, &st);
}

static void fsAccess(fuse_req_t req, fuse_ino_t ino, int mask)
{
    (void)ino;
    (void)mask;
    request(KindOther);
    fuse_reply_err(req, 0);
}

static void fsGetxattr(fuse_req_t req, fuse_ino_t ino, const char* name, size_t size)
{
    (void)ino;
    (void)name;
    (void)size;
    request(KindOther);
    fuse_reply_err(req, ENODATA);
}

static void fsListxattr(fuse_req_t req, fuse_ino_t ino, size_t size)
{
    (void)ino;
    request(KindOther);
    if (size == 0)
        fuse_reply_xattr(req, 0);
    else
        fuse_reply_buf(req, NULL, 0);
}

static const struct fuse_lowlevel_ops kOperations = {
    .init = fsInit,
    .lookup = fsLookup,
    .forget = fsForget,
    .forget_multi = fsForgetMulti,
    .getattr = fsGetattr,
    .readlink = fsReadlink,
    .opendir = fsOpendir,
    .readdirplus = fsReaddirplus,
    .releasedir = fsReleasedir,
    .open = fsOpen,
    .read = fsRead,
    .flush = fsFlush,
    .release = fsRelease,
    .statfs = fsStatfs,
    .access = fsAccess,
    .getxattr = fsGetxattr,
    .listxattr = fsListxattr,
};

static void usage(void)
{
    fprintf(stderr, "usage: latencyfs [--timeout SECONDS] [--threads N] CONTROL SOURCE MOUNTPOINT\n"
                    "control words: magic, delay in ns, then the counters:");
    for (int k = 0; k < KindCount; ++k)
        fprintf(stderr, " %s", kKindNames[k]);
    fprintf(stderr, "\n");
    exit(2);
}

int main(int argc, char** argv)
{
    int threads = 64;
    int k = 1;
    for (; k + 1 < argc && strncmp(argv[k], "--", 2) == 0; k += 2) {
        if (strcmp(argv[k], "--timeout") == 0)
            g_timeout = atof(argv[k + 1]);
        else if (strcmp(argv[k], "--threads") == 0)
            threads = atoi(argv[k + 1]);
        else
            usage();
    }
    if (argc - k != 3)
        usage();
    const char* controlPath = argv[k];
    const char* source = argv[k + 1];
    const char* mountpoint = argv[k + 2];

    const size_t controlSize = sizeof(uint64_t) * (ControlFirstCounter + KindCount);
    const int controlFd = open(controlPath, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (controlFd < 0 || ftruncate(controlFd, (off_t)controlSize) != 0) {
        perror(controlPath);
        return 1;
    }
    g_control = mmap(NULL, controlSize, PROT_READ | PROT_WRITE, MAP_SHARED, controlFd, 0);
    if (g_control == MAP_FAILED) {
        perror("mmap");
        return 1;
    }
    g_root.fd = open(source, O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (g_root.fd < 0) {
        perror(source);
        return 1;
    }
    g_root.lookups = 2;

    char* fuseArgv[] = {argv[0], "-o", "fsname=latencyfs,subtype=latencyfs,ro", NULL};
    struct fuse_args args = FUSE_ARGS_INIT(3, fuseArgv);
    struct fuse_session* session = fuse_session_new(&args, &kOperations, sizeof kOperations, NULL);
    if (!session || fuse_set_signal_handlers(session) != 0 ||
        fuse_session_mount(session, mountpoint) != 0) {
        fprintf(stderr, "latencyfs: cannot mount %s\n", mountpoint);
        return 1;
    }
    g_control[ControlMagic] = kMagic;
    struct fuse_loop_config* config = fuse_loop_cfg_create();
    fuse_loop_cfg_set_max_threads(config, (unsigned)threads);
    fuse_loop_cfg_set_idle_threads(config, (unsigned)threads);
    const int result = fuse_session_loop_mt(session, config);
    fuse_loop_cfg_destroy(config);
    fuse_session_unmount(session);
    fuse_remove_signal_handlers(session);
    fuse_session_destroy(session);
    return result == 0 ? 0 : 1;
}
