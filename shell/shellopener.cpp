#include "shell/shellopener.h"

#include <QDesktopServices>

namespace corvanta {

QUrl shellUrl(const QString& target) {
    if (target.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) ||
        target.startsWith(QLatin1String("https://"), Qt::CaseInsensitive))
        return QUrl(target);
    return QUrl::fromLocalFile(target);
}

void DesktopShellOpener::open(const QString& target) {
    QDesktopServices::openUrl(shellUrl(target));
}

} // namespace corvanta
