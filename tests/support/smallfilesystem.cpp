#include "tests/support/smallfilesystem.h"

#include <QDir>
#include <QFile>

#ifdef Q_OS_LINUX
#include <cerrno>
#include <cstring>
#include <sys/mount.h>
#endif

SmallFileSystem::SmallFileSystem(int kilobytes) {
    if (!m_folder.isValid()) {
        m_whyNot = m_folder.errorString();
        return;
    }
#ifdef Q_OS_LINUX
    const QByteArray options = "size=" + QByteArray::number(kilobytes) + "k,mode=0700";
    if (::mount("tmpfs", QFile::encodeName(m_folder.path()).constData(), "tmpfs", MS_NOSUID, options.constData()) == 0)
        m_mounted = true;
    else
        m_whyNot = QStringLiteral("cannot mount a small file system: %1").arg(QString::fromLocal8Bit(strerror(errno)));
#else
    Q_UNUSED(kilobytes);
    m_whyNot = QStringLiteral("small file systems are mounted on Linux only");
#endif
}

SmallFileSystem::~SmallFileSystem() {
#ifdef Q_OS_LINUX
    // Detached, so that a file a failed test left open cannot keep it mounted.
    if (m_mounted)
        ::umount2(QFile::encodeName(m_folder.path()).constData(), MNT_DETACH);
#endif
}

bool SmallFileSystem::isEmpty() const {
    return QDir(path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
}
