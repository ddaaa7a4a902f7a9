#include "mainwindow.h"
#include "workingfolder.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvanta"));
    // A session that ends, or a kill, while a join runs must not leave its working folder behind.
    corvanta::removeWorkingFoldersOnTermination();
    corvanta::MainWindow window;
    window.show();
    return QApplication::exec();
}
