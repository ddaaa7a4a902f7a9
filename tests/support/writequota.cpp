// A write quota on one folder, for tests of full disks that run as an ordinary user: writes that would make the
// files under the folder together larger than the quota write what still fits and then fail with ENOSPC, as on a
// full file system. It takes the place of the C library's write calls: linked into a test it serves that process;
// preloaded (LD_PRELOAD) with CORVANTA_WRITE_QUOTA=BYTES:FOLDER it serves a program the test starts.
#include "tests/support/writequota.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <ftw.h>
#include <mutex>
#include <string>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {

// The quota and its folder; guarded by g_lock. Set by the test before it starts the work it limits.
std::mutex g_lock;
std::string g_folder;
long long g_quota = -1;

template <typename Function> Function real(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

// Read once when the program starts, for programs that a test runs with the quota preloaded.
const bool g_fromEnvironment = [] {
    if (const char* setting = std::getenv("CORVANTA_WRITE_QUOTA")) {
        char* rest = nullptr;
        const long long bytes = std::strtoll(setting, &rest, 10);
        if (rest && *rest == ':')
            corvanta_set_write_quota(rest + 1, bytes);
    }
    return true;
}();

long long g_used = 0;
int addSize(const char*, const struct stat* info, int type, struct FTW*) {
    if (type == FTW_F)
        g_used += info->st_size;
    return 0;
}

/// How many of \a count bytes written at \a offset of \a fd (-1: its current place) may still grow the folder;
/// \a count itself when the file is not in the folder or no quota is set.
size_t room(int fd, off_t offset, size_t count) {
    std::lock_guard lock(g_lock);
    if (g_quota < 0)
        return count;
    char link[64];
    char target[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t length = readlink(link, target, sizeof target - 1);
    if (length <= 0)
        return count;
    target[length] = '\0';
    if (std::strncmp(target, g_folder.c_str(), g_folder.size()) != 0 || target[g_folder.size()] != '/')
        return count;
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        return count;
    if (offset < 0)
        offset = (fcntl(fd, F_GETFL) & O_APPEND) ? info.st_size : lseek(fd, 0, SEEK_CUR);
    g_used = info.st_nlink == 0 ? info.st_size : 0; // a file made with O_TMPFILE has no name in the folder yet
    nftw(g_folder.c_str(), addSize, 16, FTW_PHYS);
    const long long growth = std::max<long long>(0, offset + static_cast<long long>(count) - info.st_size);
    const long long free = std::max<long long>(0, g_quota - g_used);
    if (growth <= free)
        return count;
    return static_cast<size_t>(count - (growth - free));
}

/// Whether \a path (or, for a name that does not exist yet, its folder) lies in the quota's folder.
bool inFolder(int at, const char* path) {
    std::string whole = path;
    if (!whole.empty() && whole[0] != '/') {
        char base[4096] = {};
        char link[64];
        std::snprintf(link, sizeof link, "/proc/self/fd/%d", at);
        if (at == AT_FDCWD ? getcwd(base, sizeof base) == nullptr : readlink(link, base, sizeof base - 1) <= 0)
            return false;
        whole = std::string(base) + '/' + whole;
    }
    const std::string parent = whole.substr(0, whole.find_last_of('/'));
    char resolved[4096];
    if (realpath(parent.empty() ? "/" : parent.c_str(), resolved) == nullptr)
        return false;
    std::lock_guard lock(g_lock);
    const std::string place = resolved;
    return g_quota >= 0 && (place == g_folder || place.rfind(g_folder + '/', 0) == 0);
}

/// A move between the folder and elsewhere crosses file systems, as it would were the folder a disk of its own.
bool crossesFolder(int oldAt, const char* from, int newAt, const char* to) {
    return inFolder(oldAt, from) != inFolder(newAt, to);
}

ssize_t noSpace() {
    errno = ENOSPC;
    return -1;
}

} // namespace

extern "C" {

void corvanta_set_write_quota(const char* folder, long long bytes) {
    std::lock_guard lock(g_lock);
    g_folder = folder ? folder : "";
    g_quota = folder ? bytes : -1;
}

ssize_t write(int fd, const void* buffer, size_t count) {
    static const auto next = real<ssize_t (*)(int, const void*, size_t)>("write");
    const size_t allowed = room(fd, -1, count);
    if (count > 0 && allowed == 0)
        return noSpace();
    return next(fd, buffer, allowed);
}

ssize_t pwrite64(int fd, const void* buffer, size_t count, off_t offset) {
    static const auto next = real<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite64");
    const size_t allowed = room(fd, offset, count);
    if (count > 0 && allowed == 0)
        return noSpace();
    return next(fd, buffer, allowed, offset);
}

ssize_t pwrite(int fd, const void* buffer, size_t count, off_t offset) {
    return pwrite64(fd, buffer, count, offset);
}

ssize_t writev(int fd, const struct iovec* pieces, int count) {
    static const auto next = real<ssize_t (*)(int, const struct iovec*, int)>("writev");
    size_t total = 0;
    for (int i = 0; i < count; ++i)
        total += pieces[i].iov_len;
    if (room(fd, -1, total) == total)
        return next(fd, pieces, count);
    // Short of room: the pieces one by one, each cut to what still fits.
    ssize_t written = 0;
    for (int i = 0; i < count; ++i) {
        const ssize_t n = write(fd, pieces[i].iov_base, pieces[i].iov_len);
        if (n < 0)
            return written > 0 ? written : n;
        written += n;
        if (size_t(n) < pieces[i].iov_len)
            break;
    }
    return written;
}

ssize_t copy_file_range(int in, off64_t* inOffset, int out, off64_t* outOffset, size_t count, unsigned flags) {
    static const auto next = real<ssize_t (*)(int, off64_t*, int, off64_t*, size_t, unsigned)>("copy_file_range");
    const size_t allowed = room(out, outOffset ? *outOffset : -1, count);
    if (count > 0 && allowed == 0)
        return noSpace();
    return next(in, inOffset, out, outOffset, allowed, flags);
}

ssize_t sendfile64(int out, int in, off64_t* offset, size_t count) {
    static const auto next = real<ssize_t (*)(int, int, off64_t*, size_t)>("sendfile64");
    const size_t allowed = room(out, -1, count);
    if (count > 0 && allowed == 0)
        return noSpace();
    return next(out, in, offset, allowed);
}

static_assert(sizeof(off_t) == sizeof(off64_t));

ssize_t sendfile(int out, int in, off_t* offset, size_t count) {
    return sendfile64(out, in, reinterpret_cast<off64_t*>(offset), count);
}

int renameat2(int oldAt, const char* from, int newAt, const char* to, unsigned flags) {
    static const auto next = real<int (*)(int, const char*, int, const char*, unsigned)>("renameat2");
    if (crossesFolder(oldAt, from, newAt, to)) {
        errno = EXDEV;
        return -1;
    }
    return next(oldAt, from, newAt, to, flags);
}

int renameat(int oldAt, const char* from, int newAt, const char* to) {
    return renameat2(oldAt, from, newAt, to, 0);
}

int rename(const char* from, const char* to) {
    return renameat2(AT_FDCWD, from, AT_FDCWD, to, 0);
}

int linkat(int oldAt, const char* from, int newAt, const char* to, int flags) {
    static const auto next = real<int (*)(int, const char*, int, const char*, int)>("linkat");
    // A file made with O_TMPFILE is named through /proc/self/fd, which says nothing of where it lies.
    if (std::strncmp(from, "/proc/self/fd/", 14) != 0 && crossesFolder(oldAt, from, newAt, to)) {
        errno = EXDEV;
        return -1;
    }
    return next(oldAt, from, newAt, to, flags);
}

int link(const char* from, const char* to) {
    return linkat(AT_FDCWD, from, AT_FDCWD, to, 0);
}

} // extern "C"
