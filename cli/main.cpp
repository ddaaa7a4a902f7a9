#include "cli/clijoin.h"
#include "engine/buildconfig.h"
#include "engine/files/workingfolder.h"

#include <QCoreApplication>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("corvanta-join"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CORVANTA_VERSION));
    corvanta::removeWorkingFoldersOnTermination();
    return corvanta::runCommandLineJoin(QCoreApplication::arguments().mid(1), stdout, stderr);
}
