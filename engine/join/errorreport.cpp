#include "engine/join/errorreport.h"

#include "engine/buildconfig.h"
#include "engine/text/filepath.h"

namespace corvanta {

QString supportAddress() {
    return QStringLiteral(CORVANTA_SUPPORT_EMAIL);
}

QString applicationErrorReport(const QString& description, const QString& location, int step,
                               const std::optional<QString>& fileLine, qsizetype moreFailures) {
    QString text = description + QStringLiteral("\r\n") + location + QStringLiteral("at line ") +
                   QString::number(step) + QStringLiteral("\r\rPlease email screenshot of this message to ") +
                   supportAddress();
    if (fileLine)
        text += QStringLiteral("\r\nfile1: ") + displayPath(*fileLine);
    if (moreFailures > 0)
        text += QStringLiteral("\r\nThis step failed for %1 more %2 under the same top-level node.")
                    .arg(moreFailures)
                    .arg(moreFailures == 1 ? QStringLiteral("node") : QStringLiteral("nodes"));
    return text;
}

QString displayLines(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

} // namespace corvanta
