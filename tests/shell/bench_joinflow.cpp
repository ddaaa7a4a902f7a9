// Times large Append joins as a user meets them: from a click on "Start Joining" in the main window to the results
// window shown and painted, then saving and copying from the results window and going back. With --merge FOLDER it
// merges the XML files of FOLDER instead and notes how long the window goes without handling its events meanwhile;
// with --stop FOLDER it stops such merges at moments through the join and notes how soon the window takes input.
// Run by hand (best from an optimised build, offscreen or under an X server); it asserts nothing and is not part of
// the test suite.
#include "filelist/filelistview.h"
#include "results/resultsview.h"
#include "results/resultswindow.h"
#include "shell/mainwindow.h"
#include "shell/menunames.h"
#include "tests/shell/windowdriver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <vector>

using namespace corvanta;

namespace {

QByteArray prettyPrinted(qsizetype bytes, int part) {
    QByteArray text = "<?xml version=\"1.0\"?>\n<catalog part=\"" + QByteArray::number(part) + "\">\n";
    text.reserve(bytes + 200);
    for (int i = 0; text.size() < bytes; ++i)
        text += "  <item id=\"" + QByteArray::number(i) + "\">\n    <name>Item number " + QByteArray::number(i) +
                "</name>\n    <price>" + QByteArray::number(i % 1000) + ".99</price>\n  </item>\n";
    return text + "</catalog>\n";
}

QByteArray singleLine(qsizetype bytes) {
    QByteArray text;
    text.reserve(bytes + 100);
    for (int i = 0; text.size() < bytes; ++i)
        text +=
            "<item id=\"" + QByteArray::number(i) + "\"><name>Item number " + QByteArray::number(i) + "</name></item>";
    return text;
}

double ms(qint64 nsecs) {
    return double(nsecs) / 1e6;
}

// Notes the moments that mark a run, on one clock, as the events go by; and answers the save dialog and the
// message boxes the way a person would, the moment they appear.
class Stopwatch : public QObject {
public:
    explicit Stopwatch(QString savePath)
        : m_savePath(std::move(savePath)) {
        m_clock.start();
    }

    qint64 now() const { return m_clock.nsecsElapsed(); }

    qint64 resultsShown = -1;
    qint64 resultsPainted = -1;
    qint64 dialogAccepted = -1;
    qint64 boxShown = -1;
    QString boxText;

    void reset() { resultsShown = resultsPainted = dialogAccepted = boxShown = -1; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && qobject_cast<ResultsWindow*>(watched) && resultsShown < 0) {
            resultsShown = now();
        } else if (event->type() == QEvent::Paint && resultsShown >= 0 && resultsPainted < 0 && watched->parent() &&
                   watched->parent()->objectName() == QLatin1String("Text2")) {
            resultsPainted = now();
        } else if (event->type() == QEvent::Show && qobject_cast<QFileDialog*>(watched)) {
            auto* dialog = static_cast<QFileDialog*>(watched);
            QTimer::singleShot(0, dialog, [this, dialog] {
                dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(m_savePath);
                QFile::remove(m_savePath); // no overwrite question
                dialogAccepted = now();
                static_cast<QDialog*>(dialog)->accept();
            });
        } else if (event->type() == QEvent::Show && qobject_cast<QMessageBox*>(watched)) {
            auto* box = static_cast<QMessageBox*>(watched);
            boxShown = now();
            boxText = box->text();
            QTimer::singleShot(0, box, [box] { box->button(QMessageBox::Ok)->click(); });
        }
        return false;
    }

private:
    QElapsedTimer m_clock;
    QString m_savePath;
};

void click(QWidget* window, const QString& name) {
    auto* button = window->findChild<QToolButton*>(name);
    if (!button) {
        auto* bar = window->findChild<QToolBar*>(QStringLiteral("Standard"));
        button = qobject_cast<QToolButton*>(bar->widgetForAction(window->findChild<QAction*>(name)));
    }
    if (!button)
        qFatal("no button %s", qPrintable(name));
    QTest::mouseClick(button, Qt::LeftButton);
}

bool resultsLoaded() {
    const auto windows = QApplication::topLevelWidgets();
    return std::any_of(windows.begin(), windows.end(),
                       [](QWidget* window) { return qobject_cast<ResultsWindow*>(window); });
}

// Waits in the event loop, not spinning: a join on a thread of its own needs the processor more than this one.
void waitUntil(const std::function<bool()>& done) {
    QTimer wake; // events may stop coming while the join works
    wake.start(5);
    while (!done())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

struct Case {
    const char* name;
    QList<QByteArray> inputs;
};

void run(const Case& test, MainWindow& window, Stopwatch& watch, const QTemporaryDir& dir) {
    window.fileList().removeAllItems();
    for (int i = 0; i < test.inputs.size(); ++i) {
        const QString path = dir.filePath(QStringLiteral("input%1.xml").arg(i));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(test.inputs.at(i)) < 0)
            qFatal("cannot write %s", qPrintable(path));
        window.fileList().appendItem(path);
    }
    qsizetype joinedBytes = 0;
    for (const QByteArray& input : test.inputs)
        joinedBytes += input.size();

    // The join's end: Append mode puts the progress bar back to zero after its last write.
    qint64 joinEnd = -1;
    auto* progress = window.findChild<QProgressBar*>(QStringLiteral("ProgressBar1"));
    const auto connection = QObject::connect(progress, &QProgressBar::valueChanged, [&](int value) {
        if (value == 0)
            joinEnd = watch.now();
    });
    const bool firstUse = !resultsLoaded();
    watch.reset();
    const qint64 start = watch.now();
    click(&window, QLatin1String(toolbar::startJoiningButton));
    // The windows take input again once the join has ended, a moment after the results window showed.
    waitUntil([&] { return watch.resultsPainted >= 0 && !window.isJoining(); });
    QObject::disconnect(connection);
    const qint64 resultsShown = watch.resultsShown;
    const qint64 resultsPainted = watch.resultsPainted;
    ResultsWindow& results = window.resultsWindow();
    if (results.resultsStore()->size() < joinedBytes / 2)
        qFatal("the results window does not hold the joined text");

    // Each command returns once its boxes are answered.
    watch.reset();
    click(&results, QStringLiteral("saveResultsAction"));
    const double save = ms(watch.boxShown - watch.dialogAccepted);
    if (watch.boxText != QLatin1String("Done.") ||
        QFileInfo(dir.filePath(QStringLiteral("out.xml"))).size() != joinedBytes)
        qFatal("the save went wrong: %s", qPrintable(watch.boxText));

    watch.reset();
    const qint64 copyStart = watch.now();
    click(&results, QStringLiteral("saveClipboardAction"));
    const double copy = ms(watch.boxShown - copyStart);

    click(&results, QStringLiteral("backAction"));
    QCoreApplication::processEvents();

    std::printf("%-21s %5.1f MB  %s  click to join end %7.1f ms | join end to shown %6.1f ms, to painted %6.1f ms "
                "| click to painted %7.1f ms | save %6.1f ms | copy %6.1f ms\n",
                test.name, double(joinedBytes) / 1e6, firstUse ? "first " : "reused", ms(joinEnd - start),
                ms(resultsShown - joinEnd), ms(resultsPainted - joinEnd), ms(resultsPainted - start), save, copy);
    std::fflush(stdout);
}

// Notes every turn of the event loop through a fast timer: the longest time between two turns is the longest the
// window went without answering the desktop.
class Heartbeat : public QObject {
public:
    explicit Heartbeat(const Stopwatch& watch)
        : m_watch(watch) {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(2);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] { beat(); });
    }

    void start(bool beating) {
        longestGap = 0;
        longestGapEnd = 0;
        longestBefore = 0;
        until = -1;
        m_last = m_watch.now();
        if (beating)
            m_timer.start();
    }

    void stop() {
        beat();
        m_timer.stop();
    }

    qint64 longestGap = 0;
    qint64 longestGapEnd = 0;
    // The longest gap that ended before the moment \a until, once set.
    qint64 longestBefore = 0;
    qint64 until = -1;

private:
    void beat() {
        const qint64 now = m_watch.now();
        if (now - m_last > longestGap) {
            longestGap = now - m_last;
            longestGapEnd = now;
        }
        if (until < 0 || now <= until)
            longestBefore = std::max(longestBefore, now - m_last);
        m_last = now;
    }

    const Stopwatch& m_watch;
    QTimer m_timer;
    qint64 m_last = 0;
};

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// Merges the XML files of \a folder in name order, \a rounds times, and prints for each run: how long the click's
// handler took to return, the longest time the window went without handling events until the results window was
// shown, and the join's own time from the click to the results window shown.
void runMerge(const QString& folder, int rounds, bool beating, MainWindow& window, Stopwatch& watch) {
    const QStringList names = QDir(folder).entryList({QStringLiteral("*.xml")}, QDir::Files, QDir::Name);
    if (names.isEmpty())
        qFatal("no XML files in %s", qPrintable(folder));
    window.fileList().removeAllItems();
    qint64 bytes = 0;
    for (const QString& name : names) {
        window.fileList().appendItem(QDir(folder).filePath(name));
        bytes += QFileInfo(QDir(folder).filePath(name)).size();
    }
    QTest::mouseClick(window.findChild<QRadioButton*>(QStringLiteral("Option2")), Qt::LeftButton);

    Heartbeat heartbeat(watch);
    // The join's steps end with the progress bar back at zero; the hand-off to the results window follows.
    auto* progress = window.findChild<QProgressBar*>(QStringLiteral("ProgressBar1"));
    QObject::connect(progress, &QProgressBar::valueChanged, &heartbeat, [&](int value) {
        if (value == 0)
            heartbeat.until = watch.now();
    });
    std::vector<double> handlers, gaps, stepGaps, joins, processor;
    for (int round = 1; round <= rounds; ++round) {
        watch.reset();
        heartbeat.start(beating);
        const std::clock_t processorStart = std::clock();
        const qint64 start = watch.now();
        click(&window, QLatin1String(toolbar::startJoiningButton));
        const qint64 handlerEnd = watch.now();
        waitUntil([&] { return watch.resultsShown >= 0; });
        // The results view builds its rows between events after it shows: the window must answer till they are all
        // built.
        const auto* view = window.resultsWindow().findChild<ResultsView*>(QStringLiteral("Text2"));
        waitUntil([&] { return view->rowsComplete(); });
        const qint64 prepared = watch.now();
        heartbeat.stop();
        const qint64 gap = std::max(heartbeat.longestGap, handlerEnd - start);
        handlers.push_back(ms(handlerEnd - start));
        gaps.push_back(ms(gap));
        stepGaps.push_back(ms(std::max(heartbeat.longestBefore, handlerEnd - start)));
        joins.push_back(ms(watch.resultsShown - start));
        processor.push_back(double(std::clock() - processorStart) * 1000.0 / CLOCKS_PER_SEC);
        std::printf("merge %d files, %6.1f MB: handler %8.1f ms | longest without events %8.1f ms, ended %8.1f ms "
                    "after the results window showed; before the hand-off %8.1f ms | click to results shown %8.1f ms "
                    "(processor %8.1f ms) | rows built %7.1f ms after shown\n",
                    int(names.size()), double(bytes) / 1e6, handlers.back(), gaps.back(),
                    ms(heartbeat.longestGapEnd - watch.resultsShown), stepGaps.back(), joins.back(), processor.back(),
                    ms(prepared - watch.resultsShown));
        std::fflush(stdout);

        waitUntil([&] { return watch.resultsPainted >= 0 && !window.isJoining(); });
        click(&window.resultsWindow(), QStringLiteral("backAction"));
        QCoreApplication::processEvents();
    }
    std::printf("medians of %d: handler %.1f ms | longest without events %.1f ms, before the hand-off %.1f ms | "
                "click to results shown %.1f ms (processor %.1f ms)\n",
                rounds, median(handlers), median(gaps), median(stepGaps), median(joins), median(processor));
}

// Stops a Merge of the XML files of \a folder at each of \a delays after the click on "Start Joining", \a rounds
// times, and prints how long the window took from the click on "Stop" until it took input again with "Join
// stopped." shown, and the progress at the stop as the phase the join was in.
void runStops(const QString& folder, int rounds, const QList<int>& delays, MainWindow& window) {
    const QStringList names = QDir(folder).entryList({QStringLiteral("*.xml")}, QDir::Files, QDir::Name);
    if (names.isEmpty())
        qFatal("no XML files in %s", qPrintable(folder));
    window.fileList().removeAllItems();
    for (const QString& name : names)
        window.fileList().appendItem(QDir(folder).filePath(name));
    QTest::mouseClick(window.findChild<QRadioButton*>(QStringLiteral("Option2")), Qt::LeftButton);
    const auto* progress = window.findChild<QProgressBar*>(QStringLiteral("ProgressBar1"));
    const auto* status = window.findChild<QLabel*>(QStringLiteral("statusLine"));
    QElapsedTimer clock;
    for (const int delay : delays) {
        std::vector<double> latencies;
        for (int round = 1; round <= rounds; ++round) {
            click(&window, QLatin1String(toolbar::startJoiningButton));
            clock.start();
            waitUntil([&] { return clock.elapsed() >= delay; });
            const double phase = 100.0 * progress->value() / progress->maximum();
            if (!window.isJoining()) {
                std::printf("stop after %5d ms: the join had ended\n", delay);
                click(&window.resultsWindow(), QStringLiteral("backAction"));
                break;
            }
            clock.start();
            click(&window, QLatin1String(toolbar::startJoiningButton));
            waitUntil([&] { return !window.isJoining() && status->isVisible(); });
            latencies.push_back(double(clock.nsecsElapsed()) / 1e6);
            std::printf("stop after %5d ms at %3.0f %%: window takes input %7.1f ms after the click on Stop\n", delay,
                        phase, latencies.back());
            std::fflush(stdout);
        }
        if (!latencies.empty())
            std::printf("stop after %5d ms: median %.1f ms, slowest %.1f ms of %d\n", delay, median(latencies),
                        *std::max_element(latencies.begin(), latencies.end()), int(latencies.size()));
    }
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true); // the user's own settings stay as they are
    QTemporaryDir dir;
    qputenv("TEMP", QFile::encodeName(dir.path()));

    const QList<Case> cases{
        {"20 MB pretty-printed",
         {prettyPrinted(5'000'000, 1), prettyPrinted(5'000'000, 2), prettyPrinted(5'000'000, 3),
          prettyPrinted(5'000'000, 4)}},
        {"5 MB single line", {singleLine(2'500'000), singleLine(2'500'000)}},
    };

    MainWindow window(DesktopFreeOptions{}.mainWindowOptions()); // never opens the browser at start-up
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        qFatal("the main window is not shown");
    auto* tabs = window.findChild<QTabWidget*>(QStringLiteral("TabControl1"));
    tabs->setCurrentIndex(1);
    QTest::mouseClick(window.findChild<QRadioButton*>(QStringLiteral("Option1")), Qt::LeftButton);

    Stopwatch watch(dir.filePath(QStringLiteral("out.xml")));
    app.installEventFilter(&watch);
    const QStringList arguments = QCoreApplication::arguments();
    if (const qsizetype stop = arguments.indexOf(QStringLiteral("--stop")); stop > 0) {
        if (stop + 1 >= arguments.size())
            qFatal("usage: bench_joinflow --stop FOLDER [ROUNDS]");
        const int rounds = stop + 2 < arguments.size() ? arguments.at(stop + 2).toInt() : 0;
        runStops(arguments.at(stop + 1), rounds > 0 ? rounds : 5, {10, 100, 300, 600, 900, 1200, 1600, 2000, 2400},
                 window);
        return 0;
    }
    if (const qsizetype merge = arguments.indexOf(QStringLiteral("--merge")); merge > 0) {
        if (merge + 1 >= arguments.size())
            qFatal("usage: bench_joinflow [--merge FOLDER [ROUNDS] [--no-heartbeat]]");
        const int rounds = merge + 2 < arguments.size() ? arguments.at(merge + 2).toInt() : 0;
        // Without the heartbeat the window's thread sleeps while the join works, for the join's own time.
        runMerge(arguments.at(merge + 1), rounds > 0 ? rounds : 3,
                 !arguments.contains(QStringLiteral("--no-heartbeat")), window, watch);
        return 0;
    }
    for (int round = 1; round <= 3; ++round)
        for (const Case& test : cases)
            run(test, window, watch, dir);
    return 0;
}
