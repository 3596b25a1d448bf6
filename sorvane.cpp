// sorvane: copy a file byte for byte, writing a tab wherever it holds '['.
//
// Usage: sorvane -i IN -o OUT.  Silent on success (status 0); each failure
// prints one line on standard output and ends with status 1.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Big enough that the syscalls cost little next to the bytes moved, small
// enough to stay in the cache between the read, the substitution and the write.
enum { bufsz = 128 * 1024 };

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

// printf must never see a null pointer for %s.
static const char *shw_nm(const char *nm)
{
    return nm != nullptr ? nm : "(null)";
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

// Opened read-write like fopen's "w+", so an output the user may write but
// not read is refused untouched.  It is emptied only after it is known not
// to be the input itself, whatever name or link leads to it.
static int open_ofile(const char *nm, const struct stat *ist)
{
    if (nm == nullptr)
        return -1;
    int fd = open(nm, O_RDWR | O_CREAT | O_NOCTTY, 0666);
    if (fd < 0)
        return -1;
    struct stat ost;
    bool ok = fstat(fd, &ost) == 0;
    if (ok && S_ISREG(ost.st_mode)) {
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

enum cpy_res { cpy_ok, cpy_rfail, cpy_wfail };

static cpy_res copy_fd(int ifd, int ofd)
{
    unsigned char buf[bufsz];
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
    const char *inm = retn_ifilenm(argc, argv);
    const char *onm = retn_ofilenm(argc, argv);

    // The output is opened only once the input has, so a mistyped input
    // name never empties an existing output.
    struct stat ist;
    int ifd = open_ifile(inm, &ist);
    int ofd = ifd < 0 ? -1 : open_ofile(onm, &ist);
    if (ofd < 0) {
        printf("open fail:%s:%s\n", shw_nm(inm), shw_nm(onm));
        return 1;
    }

    cpy_res res = copy_fd(ifd, ofd);
    // Every byte has been read or the read failed; closing the input
    // cannot lose data, so its result does not change the outcome.
    (void)close(ifd);
    // A close can be the first to report a delayed write error.
    if (close(ofd) != 0 && res == cpy_ok)
        res = cpy_wfail;

    if (res == cpy_rfail)
        printf("read fail:%s\n", inm);
    else if (res == cpy_wfail)
        printf("write fail:%s\n", onm);
    return res == cpy_ok ? 0 : 1;
}
