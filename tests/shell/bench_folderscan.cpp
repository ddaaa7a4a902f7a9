// Times Add Folder and a drop of a large folder tree in the main window, and counts how often the window handled its
// events and repainted the list meanwhile. Run by hand (best from an optimised build); it asserts nothing.
//     bench_folderscan [--compare] [FOLDER]
// The tree is made in FOLDER (and kept there for the next run) or in a temporary folder. With --compare it also times
// the walk on the window's thread, appending as it goes, as it ran before walks had a thread of their own.
#include "engine/files/folderscan.h"
#include "filelist/filelistview.h"
#include "shell/mainwindow.h"
#include "tests/shell/windowdriver.h"
#include "tests/support/modalhelper.h"

#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <cstdio>

using namespace corvanta;

namespace {

constexpr int topFolders = 50;
constexpr int foldersBelowEach = 99; // 50 + 50 * 99 = 5,000 folders
constexpr int filesPerFolder = 10;   // 50,000 files

void writeFiles(const QString& folder) {
    QDir().mkpath(folder);
    for (int i = 0; i < filesPerFolder; ++i) {
        QFile file(folder + QStringLiteral("/file%1.xml").arg(i));
        if (file.open(QIODevice::WriteOnly))
            file.write("<r/>\n");
    }
}

int makeTree(const QString& root) {
    if (QFileInfo::exists(root + "/t00/s00/file0.xml"))
        return topFolders * (1 + foldersBelowEach) * filesPerFolder;
    for (int t = 0; t < topFolders; ++t) {
        const QString top = root + QStringLiteral("/t%1").arg(t, 2, 10, QLatin1Char('0'));
        writeFiles(top);
        for (int s = 0; s < foldersBelowEach; ++s)
            writeFiles(top + QStringLiteral("/s%1").arg(s, 2, 10, QLatin1Char('0')));
    }
    return topFolders * (1 + foldersBelowEach) * filesPerFolder;
}

/// Counts the paints of the list and the rounds of event handling (a zero timer fires once a round) while it runs.
class WalkWatch : public QObject {
public:
    explicit WalkWatch(QWidget* painted) {
        painted->installEventFilter(this);
        m_rounds.setInterval(0);
        connect(&m_rounds, &QTimer::timeout, this, [this] { ++rounds; });
    }
    void start() {
        paints = rounds = 0;
        m_rounds.start();
        m_clock.start();
    }
    void stop() {
        m_rounds.stop();
        ms = double(m_clock.nsecsElapsed()) / 1e6;
    }
    int paints = 0;
    int rounds = 0;
    double ms = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        paints += m_rounds.isActive() && event->type() == QEvent::Paint;
        return false;
    }

private:
    QTimer m_rounds;
    QElapsedTimer m_clock;
};

void report(const char* what, const WalkWatch& watch, int items, int expected) {
    std::printf("%-34s %8.0f ms  %6d items%s  %5d event rounds  %5d list paints\n", what, watch.ms, items,
                items == expected ? "" : " (WRONG)", watch.rounds, watch.paints);
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments().mid(1);
    const bool compare = arguments.removeAll(QStringLiteral("--compare")) > 0;
    QTemporaryDir temp;
    const QString root = arguments.isEmpty() ? temp.path() : arguments.first();
    QElapsedTimer clock;
    clock.start();
    const int expected = makeTree(root);
    std::printf("tree: %d XML files in %d folders below %s (ready in %lld ms)\n", expected,
                topFolders * (1 + foldersBelowEach), qPrintable(root), clock.elapsed());

    MainWindow window(DesktopFreeOptions{}.mainWindowOptions()); // never opens the browser at start-up
    window.show();
    FileListView& list = window.fileList();
    WalkWatch watch(list.viewport());

    for (int run = 1; run <= 3; ++run) {
        // The walk alone: no window events, nothing listed.
        clock.start();
        const int found = int(scanFolderForXmlFiles(root).size());
        std::printf("%-34s %8.0f ms  %6d files\n", "walk only", double(clock.nsecsElapsed()) / 1e6, found);

        // Add Folder through its chooser; the clock starts when the folder is chosen.
        list.removeAllItems();
        ModalAnswerer answerer;
        answerer.handleFileDialog([&](QFileDialog* dialog) {
            dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(root);
            watch.start();
            QMetaObject::invokeMethod(dialog, "accept");
        });
        window.addFolder();
        while (window.isBusy())
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        watch.stop();
        report("Add Folder", watch, list.itemCount(), expected);

        // A drop of the tree's folder; the clock starts with the drop event and stops when the walk is over.
        list.removeAllItems();
        QCoreApplication::processEvents();
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(root)});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QDropEvent drop(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        watch.start();
        clock.start();
        QApplication::sendEvent(list.viewport(), &enter);
        QApplication::sendEvent(list.viewport(), &drop);
        while (window.isBusy() && clock.elapsed() < 60000)
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        watch.stop();
        report("drop", watch, list.itemCount(), expected);

        if (!compare)
            continue;
        // For comparison: the walk on the window's thread, appending as it goes, the window frozen meanwhile.
        list.removeAllItems();
        watch.start();
        scanFolderForXmlFiles(root, {}, [&](const QStringList& paths) { list.appendItems(paths); });
        watch.stop();
        report("walk on the window's thread", watch, list.itemCount(), expected);
    }
    return 0;
}
