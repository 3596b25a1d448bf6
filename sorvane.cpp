// sorvane: copy a file byte for byte, writing a tab wherever it holds '['.
//
// Usage: sorvane -i IN -o OUT.  Silent on success (status 0); each failure
// prints one line on standard output and ends with status 1.

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

// Big enough that the syscalls cost little next to the bytes moved, small
// enough to stay in the cache between the read, the substitution and the
// write.  Measured on ext4, 256 KiB beats 128 KiB by a tenth and larger
// sizes gain nothing more.
enum { bufsz = 256 * 1024 };

// The value after the first FLAG that has a following slot, or null.
static const char *retn_optval(int argc, char **argv, const char *flag)
{
    if (argc <= 0 || argv == nullptr)
        return nullptr;
    for (int i = 0; i < argc - 1; i++)
        if (argv[i] != nullptr && strcmp(argv[i], flag) == 0)
            return argv[i + 1];
    return nullptr;
}

const char *retn_ifilenm(int argc, char **argv)
{
    return retn_optval(argc, argv, "-i");
}

const char *retn_ofilenm(int argc, char **argv)
{
    return retn_optval(argc, argv, "-o");
}

// Control bytes are shown as a backslash and three octal digits, so that a
// message stays one line and sends no control sequence to a terminal; every
// other byte of a name is printed as given.
static void put_nm(const char *nm)
{
    static const char ctl[] = "\001\002\003\004\005\006\007\010\011\012\013\014\015\016\017\020"
                              "\021\022\023\024\025\026\027\030\031\032\033\034\035\036\037\177";
    if (nm == nullptr) {
        (void)fputs("(null)", stdout);
        return;
    }
    while (*nm != '\0') {
        size_t n = strcspn(nm, ctl);
        (void)fwrite(nm, 1, n, stdout);
        nm += n;
        if (*nm != '\0')
            printf("\\%03o", static_cast<unsigned char>(*nm++));
    }
}

// Prints FMT with its %s replaced by the names in turn.  Standard output may
// be the output or the input itself (-o /dev/stdout > f, or 1<>f), at an
// offset that our own writes never moved: the line goes at the file's end,
// never over the data.  A message that cannot be written changes
// nothing: the status already says that the run failed.
static void put_msg(const char *fmt, const char *nm1, const char *nm2)
{
    struct stat st;
    if (fstat(STDOUT_FILENO, &st) == 0 && S_ISREG(st.st_mode))
        (void)lseek(STDOUT_FILENO, 0, SEEK_END);
    const char *nm[] = {nm1, nm2};
    size_t k = 0;
    for (const char *p; k < 2 && (p = strstr(fmt, "%s")) != nullptr; fmt = p + 2) {
        (void)fwrite(fmt, 1, static_cast<size_t>(p - fmt), stdout);
        put_nm(nm[k++]);
    }
    (void)fputs(fmt, stdout);
}

// A directory opens but cannot be read; refuse it here, before the output
// is touched, rather than copy nothing and call it success.
static int open_ifile(const char *nm, struct stat *ist)
{
    if (nm == nullptr)
        return -1;
    int fd = open(nm, O_RDONLY | O_NOCTTY);
    if (fd < 0)
        return -1;
    if (fstat(fd, ist) != 0 || S_ISDIR(ist->st_mode)) {
        close(fd);
        return -1;
    }
    return fd;
}

// A regular file is opened read-write like fopen's "w+", so that one the
// user may write but not read is refused untouched, and it is emptied only
// once it is known not to be the input, whatever name or link leads to it.
// Anything else (a FIFO, a pipe or terminal behind /dev/stdout, a device) is
// opened for writing only and left as it is: holding a read end of our own
// output would keep a FIFO from waiting for its reader and would hide a
// pipe's reader leaving.
static int open_ofile(const char *nm, const struct stat *ist)
{
    if (nm == nullptr)
        return -1;
    struct stat ost;
    int fl;
    if (stat(nm, &ost) == 0) {
        fl = S_ISREG(ost.st_mode) ? O_RDWR : O_WRONLY;
    } else if (errno != ENOENT) {
        return -1;
    } else {
        // A file made here is new, so it is not the input and needs no
        // stamp: nothing is left that could fail and leave it behind.
        int fd = open(nm, O_RDWR | O_CREAT | O_EXCL | O_NOCTTY, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
        // A dangling symbolic link, whose target this creates, or a file
        // that appeared meanwhile: treated as one that existed.
        fl = O_RDWR | O_CREAT;
    }
    int fd = open(nm, fl | O_NOCTTY, 0666);
    if (fd < 0)
        return -1;
    bool reg = (fl & O_ACCMODE) == O_RDWR;
    // The type is checked again on what was opened, in case the name
    // changed hands since the stat.
    bool ok = fstat(fd, &ost) == 0 && S_ISREG(ost.st_mode) == reg;
    if (ok && reg) {
        bool same = S_ISREG(ist->st_mode) && ost.st_dev == ist->st_dev &&
                    ost.st_ino == ist->st_ino;
        // An empty file is only stamped, as truncation would: truncating
        // it anyway makes some file systems (ext4) flush it on close.
        if (same)
            ok = false;
        else if (ost.st_size > 0)
            ok = ftruncate(fd, 0) == 0;
        else
            ok = futimens(fd, nullptr) == 0;
    }
    if (!ok) {
        close(fd);
        return -1;
    }
    return fd;
}

// Branch-free so that the compiler turns it into vector compares and blends,
// 16 bytes at a time on any x86-64.  Machines with AVX2 or AVX-512 get a
// wider copy of the loop, picked once when the program loads.
#if defined(__x86_64__)
__attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#endif
static void subst_buf(unsigned char *p, size_t n)
{
    for (size_t k = 0; k < n; k++)
        p[k] = p[k] == '[' ? '\t' : p[k];
}

// Carries on after short writes and interrupted calls.
static bool writ_all(int fd, const unsigned char *p, size_t n)
{
    while (n > 0) {
        ssize_t w = write(fd, p, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// Reserving the output's blocks before writing spares the file system
// growing it block by block, which costs more than the copy itself on ext4.
// FALLOC_FL_KEEP_SIZE keeps the reservation out of the size, so a partial
// output is never padded.  A file that one write fills gains nothing.  A
// file system that cannot reserve, or has no room, is left to the writes
// to report on; so is an output that is not a regular file, which refuses
// the call (ESPIPE, ENODEV, EOPNOTSUPP).
static bool rsv_ofile(int ofd, const struct stat *ist)
{
    if (!S_ISREG(ist->st_mode) || ist->st_size <= bufsz)
        return false;
    // A tmpfs has no blocks to lay out, and reserving its pages first
    // was measured slower than writing them.
    struct statfs fs;
    if (fstatfs(ofd, &fs) == 0 && fs.f_type == TMPFS_MAGIC)
        return false;
    return fallocate(ofd, FALLOC_FL_KEEP_SIZE, 0, ist->st_size) == 0;
}

enum cpy_res { cpy_ok, cpy_rfail, cpy_wfail };

static cpy_res copy_fd(int ifd, int ofd)
{
    // Static rather than on the stack, which a small stack limit
    // (ulimit -s) would make too short for it.
    static unsigned char buf[bufsz];
    for (;;) {
        ssize_t n = read(ifd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return cpy_rfail;
        if (n == 0)
            return cpy_ok;
        subst_buf(buf, static_cast<size_t>(n));
        if (!writ_all(ofd, buf, static_cast<size_t>(n)))
            return cpy_wfail;
    }
}

int main(int argc, char **argv)
{
    if (argc <= 3) {
        printf("pram argc:%d\n", argc);
        return 1;
    }
    // Past a file-size limit a write then fails with EFBIG and is reported,
    // instead of the process being killed without a word.
    (void)signal(SIGXFSZ, SIG_IGN);
    const char *inm = retn_ifilenm(argc, argv);
    const char *onm = retn_ofilenm(argc, argv);

    // The output is opened only once the input has, so a mistyped input
    // name never empties an existing output.
    struct stat ist;
    int ifd = open_ifile(inm, &ist);
    int ofd = ifd < 0 ? -1 : open_ofile(onm, &ist);
    if (ofd < 0) {
        put_msg("open fail:%s:%s\n", inm, onm);
        return 1;
    }

    bool rsv = rsv_ofile(ofd, &ist);
    cpy_res res = copy_fd(ifd, ofd);
    // Nothing stays reserved past the end: the input may have been shorter
    // than its size said, or the copy may have stopped early.  Truncating
    // to the size that the writes reached gives those blocks back.
    struct stat ost;
    if (rsv && fstat(ofd, &ost) == 0 && ost.st_size < ist.st_size)
        (void)ftruncate(ofd, ost.st_size);
    // Every byte has been read or the read failed; closing the input
    // cannot lose data, so its result does not change the outcome.
    (void)close(ifd);
    // A close can be the first to report a delayed write error.
    if (close(ofd) != 0 && res == cpy_ok)
        res = cpy_wfail;

    if (res == cpy_rfail)
        put_msg("read fail:%s\n", inm, nullptr);
    else if (res == cpy_wfail)
        put_msg("write fail:%s\n", onm, nullptr);
    return res == cpy_ok ? 0 : 1;
}
