#include "cli/clijoin.h"
#include "engine/buildconfig.h"
#include "engine/files/workingfolder.h"
#include "engine/text/filepath.h"

#include <QCoreApplication>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("corvanta-join"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CORVANTA_VERSION));
    // Memory that runs out on a thread that cannot hand the failure on still ends the run in plain words.
    corvanta::removeWorkingFoldersOnTermination("There was not enough memory to finish the join.\n");
    // Qt's own list of arguments loses the bytes of a name that is not valid UTF-8: they are kept here.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << corvanta::pathFromNative(QByteArray(argv[i]));
    return corvanta::runCommandLineJoin(arguments, stdout, stderr);
}
