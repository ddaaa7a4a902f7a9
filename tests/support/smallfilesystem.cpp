#include "tests/support/smallfilesystem.h"

#include "tests/support/writequota.h"

#include <QDir>
#include <QFile>

SmallFileSystem::SmallFileSystem(int kilobytes)
    : m_kilobytes(kilobytes) {
    corvanta_set_write_quota(QFile::encodeName(m_folder.path()).constData(), qint64{kilobytes} * 1024);
}

SmallFileSystem::~SmallFileSystem() {
    corvanta_set_write_quota(nullptr, 0);
}

bool SmallFileSystem::isEmpty() const {
    return QDir(path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
}

QList<QPair<QString, QString>> SmallFileSystem::environment() const {
    // A sanitizer's runtime wants to come first among the libraries; the quota only takes the write calls after it.
    return {{"LD_PRELOAD", QStringLiteral(CORVANTA_WRITE_QUOTA_LIBRARY)},
            {"CORVANTA_WRITE_QUOTA", QString::number(qint64{m_kilobytes} * 1024) + ':' + path()},
            {"ASAN_OPTIONS", "verify_asan_link_order=0:detect_leaks=1:abort_on_error=1"}};
}
