#include "buildconfig.h"
#include "clijoin.h"
#include "workingfolder.h"

#include <QCoreApplication>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("corvanta-join"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CORVANTA_VERSION));
    corvanta::removeWorkingFoldersOnTermination();
    return corvanta::runCommandLineJoin(QCoreApplication::arguments().mid(1), stdout, stderr);
}
