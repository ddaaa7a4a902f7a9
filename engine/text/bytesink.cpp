#include "engine/text/bytesink.h"

#include "engine/text/failure.h"
#include "engine/text/filecopy.h"
#include "engine/text/textfile.h"

#include <QFileDevice>
#include <limits>

namespace corvanta {

void ByteSink::writeRestOf(QFileDevice& source) {
    QByteArray block(kStreamBlockSize, Qt::Uninitialized);
    for (;;) {
        const qint64 n = source.read(block.data(), block.size());
        if (n < 0)
            throw Failure(QStringLiteral("%1: %2").arg(source.fileName(), source.errorString()));
        if (n == 0)
            return;
        write(QByteArrayView(block.constData(), n));
    }
}

void StoppableSink::write(QByteArrayView bytes) {
    if (m_stop.stop_requested())
        throw StopRequested{};
    m_target.write(bytes);
}

FileSink::FileSink(QFileDevice& file, QString name)
    : m_file(file)
    , m_name(std::move(name)) {}

void FileSink::write(QByteArrayView bytes) {
    if (!writeWhole(m_file, bytes))
        fail();
}

void FileSink::writeRestOf(QFileDevice& source) {
    // Bytes that need no check go from the file to the file or pipe in the kernel: one copy instead of a read and a
    // write. (Bytes that are checked on the way are in memory already, and writing them from there costs less than
    // the kernel's copy.) All the rest at once: the kernel ends each call at the source's end.
    for (;;) {
        const qint64 position = source.pos();
        const qint64 copied = copyInKernel(source, position, m_file, std::numeric_limits<qint64>::max());
        if (copied < 0)
            return ByteSink::writeRestOf(source); // the kernel cannot copy here
        if (copied == 0)
            return;
        source.seek(position + copied);
    }
}

void FileSink::fail() const {
    const QString reason = m_file.error() != QFileDevice::NoError ? m_file.errorString()
                                                                  : QStringLiteral("The text could not be written.");
    throw WriteFailure(QStringLiteral("%1: %2").arg(m_name, reason));
}

} // namespace corvanta
