#include "engine/text/filecopy.h"

#include <QFileDevice>

#if defined(Q_OS_WIN)
#include <io.h>
#else
#include <cerrno>
#include <unistd.h>
#endif

namespace corvanta {

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
    while (copied < length) {
        // Without an offset for the target the kernel writes at, and advances, the target's own position.
        const ssize_t n = ::copy_file_range(in, &from, out, nullptr, size_t(length - copied), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            if (copied == 0)
                return -1;
            break;
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
