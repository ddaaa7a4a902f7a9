#include "engine/text/filecopy.h"

#include <QFileDevice>

#if defined(Q_OS_WIN)
#include <io.h>
#else
#include <algorithm>
#include <cerrno>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <fcntl.h>
#include <sys/sendfile.h>
#endif

namespace corvanta {

#ifdef Q_OS_LINUX
namespace {

// copy_file_range() copies between files only, where the file system may even share the blocks; sendfile() takes
// any target (a pipe, a file on another file system) and still keeps the bytes out of this process.
enum class KernelCopy { FileRange, SendFile };

// The most that one call of either moves.
constexpr qint64 kLargestCopy = 0x7ffff000;

ssize_t copyOnce(KernelCopy how, int in, loff_t& from, int out, size_t length) {
    // Without an offset for the target the kernel writes at, and advances, the target's own position.
    if (how == KernelCopy::FileRange)
        return ::copy_file_range(in, &from, out, nullptr, length, 0);
    off_t offset = from;
    const ssize_t n = ::sendfile(out, in, &offset, length);
    from = offset;
    return n;
}

// A pipe takes from sendfile() at most what its buffer holds, 64 KB by default: one call per block of a read and
// write of our own would cost more calls than the copy saves. Grows only, and a pipe that may not grow (the user's
// share of pipe memory is spent) stays as it is.
void growPipe(int descriptor) {
    constexpr int kPipeSize = 1024 * 1024; // what an unprivileged user may ask for by default
    const int size = ::fcntl(descriptor, F_GETPIPE_SZ);
    if (size > 0 && size < kPipeSize)
        ::fcntl(descriptor, F_SETPIPE_SZ, kPipeSize);
}

} // namespace
#endif

qint64 copyInKernel(QFileDevice& source, qint64 offset, QFileDevice& target, qint64 length) {
#ifdef Q_OS_LINUX
    // Whatever Qt still buffers must reach the file before the kernel writes behind it.
    if (!target.flush())
        return -1;
    const int in = source.handle();
    const int out = target.handle();
    if (in < 0 || out < 0)
        return -1;
    loff_t from = offset;
    qint64 copied = 0;
    KernelCopy how = KernelCopy::FileRange;
    while (copied < length) {
        const ssize_t n = copyOnce(how, in, from, out, size_t(std::min<qint64>(length - copied, kLargestCopy)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            if (copied > 0)
                break;
            if (how == KernelCopy::SendFile)
                return -1;
            // A failure that is the target's own (a full disk) comes again from the caller's write, which tells it.
            how = KernelCopy::SendFile;
            growPipe(out);
            continue;
        }
        if (n == 0)
            break; // the source ended early: it shrank since it was read
        copied += n;
    }
    // Qt keeps its own idea of the position; tell it where the kernel left off.
    if (copied > 0 && !target.isSequential())
        target.seek(target.pos() + copied);
    return copied;
#else
    Q_UNUSED(source);
    Q_UNUSED(offset);
    Q_UNUSED(target);
    Q_UNUSED(length);
    return -1;
#endif
}

void startWritingToDisk(QFileDevice& file) {
#ifdef Q_OS_LINUX
    if (file.handle() >= 0)
        ::sync_file_range(file.handle(), 0, 0, SYNC_FILE_RANGE_WRITE);
#else
    Q_UNUSED(file);
#endif
}

bool syncToDisk(QFileDevice& file) {
    if (!file.flush() || file.handle() < 0)
        return false;
#if defined(Q_OS_WIN)
    return ::_commit(file.handle()) == 0;
#else
    return ::fsync(file.handle()) == 0;
#endif
}

} // namespace corvanta
