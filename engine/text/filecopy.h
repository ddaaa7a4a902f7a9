#pragma once

#include <QtGlobal>

class QFileDevice;

namespace corvanta {

/// Copies up to \a length bytes of the file \a source, from \a offset on, to \a target (a file, a pipe) at its position
/// inside the kernel, so that they never pass through this process, and advances \a target's position past them.
/// Returns how many were copied (fewer when \a source ends first), or -1 when nothing was copied because the kernel
/// cannot copy between these two (another platform, a target opened for appending or that takes no such copy) or
/// the target failed: the caller then copies itself, and a write of its own tells the target's failure.
qint64 copyInKernel(QFileDevice& source, qint64 offset, QFileDevice& target, qint64 length);

/// Writes what the system still holds in memory of the open \a file to its disk. Returns false when it cannot.
bool syncToDisk(QFileDevice& file);

/// Has the system start writing what it holds in memory of the open \a file to its disk, without waiting for it:
/// a file written over seconds is then mostly on disk when it is synced. Nothing where the platform cannot.
void startWritingToDisk(QFileDevice& file);

} // namespace corvanta
