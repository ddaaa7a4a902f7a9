#include "shell/helplinks.h"

#include "engine/buildconfig.h"
#include "engine/files/folderscan.h"
#include "engine/text/failure.h"
#include "engine/text/textfile.h"
#include "shell/shellopener.h"
#include "shell/startupdraw.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace corvanta {

QString badXmlPicture(const QString& programFolder) {
    return programFolder + QStringLiteral("/badxml.jpg");
}

QString samplesFolder(const QString& programFolder) {
    return programFolder + QStringLiteral("/Samples/");
}

QStringList samplePaths(const QString& programFolder) {
    const QString folder = samplesFolder(programFolder);
    QStringList paths;
    for (const QString& name : listFiles(programFolder + QStringLiteral("/Samples"), QStringLiteral("*")))
        paths.append(folder + name);
    return paths;
}

QString demoVideo(const QString& programFolder) {
    const QString folder = programFolder + QStringLiteral("/Video/");
    // Without QDir::Hidden and QDir::System only ordinary files are listed: no hidden names, broken links or
    // devices.
    const QStringList names = QDir(folder).entryList(QDir::Files, QDir::Name);
    return names.isEmpty() ? folder : folder + names.first();
}

QString faqPage() {
    return QStringLiteral(CORVANTA_SITE "/question/");
}

QString mainPage() {
    return QStringLiteral(CORVANTA_SITE "/");
}

void maybeVisitMainPage(StartupDraw& draw, ShellOpener& shell) {
    if (draw.draw() == mainPageDraw)
        shell.open(mainPage());
}

std::optional<QString> readSkin(const QString& programFolder) {
    // isFile() is false for folders, pipes and broken links, none of which holds a skin (a pipe would block).
    // The name "o.cjs" is never a hidden one.
    const QFileInfo info(programFolder + QStringLiteral("/x/o.cjs"));
    if (!info.isFile())
        return std::nullopt;
    QFile file(info.filePath());
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    try {
        return decodeFileText(bytes);
    } catch (const Failure&) {
        return std::nullopt; // a text the reader refuses is no skin either
    }
}

} // namespace corvanta
