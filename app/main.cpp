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
    // A session that ends, a kill, or memory that runs out where no box can tell it, while a join runs must not
    // leave its working folder behind.
    corvanta::removeWorkingFoldersOnTermination("There was not enough memory to finish the join.\n");
    // What Qt leaves of the command line: files and folders to list, as the file manager's "Open With" passes
    // them. Other options are ignored, as before.
    corvanta::MainWindowOptions options;
    bool optionsEnded = false;
    for (const QString& argument : QApplication::arguments().mid(1)) {
        if (!optionsEnded && argument == QLatin1String("--"))
            optionsEnded = true;
        else if (optionsEnded || !argument.startsWith(QLatin1Char('-')))
            options.startPaths += argument;
    }
    corvanta::MainWindow window(std::move(options));
    window.show();
    return QApplication::exec();
}
