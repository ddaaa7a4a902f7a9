#include "app/informationoptions.h"
#include "engine/buildconfig.h"
#include "engine/files/workingfolder.h"
#include "shell/mainwindow.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments += QString::fromLocal8Bit(argv[i]);
    if (const std::optional<int> status = corvanta::answerInformationOptions(arguments, stdout))
        return *status;

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvanta"));
    QApplication::setApplicationVersion(QStringLiteral(CORVANTA_VERSION));
    // A session that ends, or a kill, while a join runs must not leave its working folder behind.
    corvanta::removeWorkingFoldersOnTermination();
    corvanta::MainWindow window;
    window.show();
    return QApplication::exec();
}
