#include "workingfolder.h"

#include <QDir>

namespace corvanta {

WorkingFolder::WorkingFolder()
    : m_dir(temporaryRoot() + QStringLiteral("/corvanta-XXXXXX")) {}

QString WorkingFolder::temporaryRoot() {
    const QString temp = qEnvironmentVariable("TEMP");
    return temp.isEmpty() ? QDir::tempPath() : QDir::cleanPath(temp);
}

QString WorkingFolder::workingPath() const {
    return m_dir.isValid() ? m_dir.filePath(QStringLiteral("temp.xml")) : QString();
}

QString WorkingFolder::errorString() const {
    return m_dir.isValid() ? QString() : m_dir.errorString();
}

} // namespace corvanta
