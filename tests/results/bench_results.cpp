// Times the results window on large results: the hand-off from the working file to the painted window, scrolling
// to the end, copying and saving, what assistive technology reads, and find steps. Run by hand (best from an
// optimised build); it asserts nothing.
#include "engine/text/codepage.h"
#include "engine/text/textfile.h"
#include "engine/text/textstore.h"
#include "results/findbar.h"
#include "results/resultsview.h"
#include "results/resultswindow.h"
#include "tests/support/eventcounter.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QScrollBar>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

using namespace corvanta;

namespace {

QString prettyPrinted(qsizetype bytes) {
    QString text = QStringLiteral("<?xml version=\"1.0\"?>\n<catalog>\n");
    text.reserve(bytes + 200);
    for (int i = 0; text.size() < bytes; ++i)
        text += QStringLiteral("  <item id=\"%1\">\n    <name>Item number %1</name>\n    <price>%2.99</price>\n"
                               "  </item>\n")
                    .arg(i)
                    .arg(i % 1000);
    return text + QStringLiteral("</catalog>\n");
}

QString singleLine(qsizetype bytes) {
    QString text;
    text.reserve(bytes + 100);
    for (int i = 0; text.size() < bytes; ++i)
        text += QStringLiteral("<item id=\"%1\"><name>Item number %1</name></item>").arg(i);
    return text;
}

void waitForPaint(EventCounter& watch, int before) {
    while (watch.count == before)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

double ms(const QElapsedTimer& timer) {
    return double(timer.nsecsElapsed()) / 1e6;
}

void run(const char* name, const QString& joined, QWidget& mainWindow, const QTemporaryDir& dir) {
    const QString working = dir.filePath(QStringLiteral("temp.xml"));
    const QString output = dir.filePath(QStringLiteral("out.xml"));
    {
        QFile file(working);
        if (!file.open(QIODevice::WriteOnly) || file.write(encodeSystemCodePage(joined)) < 0)
            qFatal("cannot write the working file");
    }
    mainWindow.show();
    QCoreApplication::processEvents();

    // From the join's end: the hand-off, then the first paint of the results.
    QElapsedTimer timer;
    timer.start();
    ResultsWindow window(&mainWindow);
    window.setProgramEnd([] {});
    auto* view = window.findChild<ResultsView*>(QStringLiteral("Text2"));
    EventCounter watch(QEvent::Paint);
    view->viewport()->installEventFilter(&watch);
    // In the program the join's thread opens it, and the working folder goes right after.
    const std::shared_ptr<const TextStore> loaded = TextStore::open(working);
    removeFile(working);
    QElapsedTimer stretch;
    stretch.start();
    window.setResultsStore(loaded);
    window.showResults();
    mainWindow.hide();
    double longest = ms(stretch); // the hand-off's own time on the window's thread
    waitForPaint(watch, 0);
    const double handOff = ms(timer);

    // The rest of the rows are built between events: the longest stretch the window's thread went without
    // turning its event loop, until they all are.
    stretch.restart();
    int turns = 0;
    while (!view->rowsComplete()) {
        QCoreApplication::processEvents();
        longest = std::max(longest, ms(stretch));
        stretch.restart();
        ++turns;
    }
    const double prepared = ms(timer);

    timer.restart();
    const int painted = watch.count;
    view->verticalScrollBar()->triggerAction(QAbstractSlider::SliderToMaximum);
    waitForPaint(watch, painted);
    const double toEnd = ms(timer);

    timer.restart();
    view->selectAll();
    view->copy();
    const double copy = ms(timer);

    timer.restart();
    writeFileAtomically(output, [&](ByteSink& sink) { window.resultsStore()->writeTo(sink); });
    const double save = ms(timer);

    if (QFileInfo(output).size() != encodeSystemCodePage(joined).size())
        qFatal("the saved file differs");

    // What assistive technology asks for: the whole text, and a line, a word and a character's place anywhere.
    QAccessibleTextInterface* accessible = QAccessible::queryAccessibleInterface(view)->textInterface();
    timer.restart();
    const QString read = accessible->text(0, accessible->characterCount());
    const double readAll = ms(timer);
    if (read != joined)
        qFatal("the accessible text differs");
    constexpr int lookups = 1000;
    int start = 0;
    int end = 0;
    timer.restart();
    for (int i = 0; i < lookups; ++i) {
        const int offset = int(qsizetype(i) * joined.size() / lookups);
        accessible->textAtOffset(offset, QAccessible::LineBoundary, &start, &end);
        accessible->textAtOffset(offset, QAccessible::WordBoundary, &start, &end);
        accessible->characterRect(offset);
    }
    const double lookup = ms(timer) / lookups;

    // Find steps as Enter in the find field runs them, from the start: a match nine tenths into the text, in
    // another case; and a text that is nowhere, so the whole text is searched.
    auto* find = window.findChild<FindBar*>();
    auto* field = window.findChild<QLineEdit*>(QStringLiteral("findEdit"));
    find->open();
    const qsizetype idAt = joined.indexOf(QStringLiteral("id=\""), joined.size() * 9 / 10) + 4;
    const QString id = joined.mid(idAt, joined.indexOf(u'"', idAt) - idAt);
    const auto prepareFind = [&](const QString& needle) {
        field->setText(needle);
        view->setCursorPosition(0);
        QCoreApplication::processEvents();
    };
    prepareFind(QStringLiteral("ITEM NUMBER ") + id + QStringLiteral("<"));
    const int before = watch.count;
    timer.restart();
    find->findNext();
    const double hit = ms(timer);
    waitForPaint(watch, before);
    const double hitPainted = ms(timer);
    if (view->selectionStart() < joined.size() * 9 / 10)
        qFatal("the find step found the wrong place");
    prepareFind(QStringLiteral("item number x"));
    timer.restart();
    find->findNext();
    const double miss = ms(timer);

    std::printf("%-28s %6.1f MB %8lld rows   hand-off to painted %7.1f ms   to the end %6.1f ms   copy %6.1f ms   "
                "save %6.1f ms\n",
                name, double(joined.size()) / 1e6, static_cast<long long>(view->rows().count()), handOff, toEnd, copy,
                save);
    std::printf("%-28s all rows built %7.1f ms after the hand-off, in %d turns of the event loop; longest stretch "
                "without one %6.1f ms\n",
                "", prepared, turns, longest);
    std::printf("%-28s accessible text(0, count) %7.3f ms   line + word + character box %7.3f ms   find step %6.1f ms "
                "(painted %6.1f)   not found %6.1f ms\n",
                "", readAll, lookup, hit, hitPainted, miss);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    QWidget mainWindow;
    mainWindow.resize(400, 300);

    // --large: a 200 MB result as well, the size of a Merge of the benchmark's large set.
    const bool large = QCoreApplication::arguments().contains(QStringLiteral("--large"));
    const QString pretty = prettyPrinted(20'000'000);
    const QString line = singleLine(5'000'000);
    for (int round = 1; round <= 3; ++round) {
        run("20 MB pretty-printed", pretty, mainWindow, dir);
        run("5 MB single line", line, mainWindow, dir);
        if (large)
            run("200 MB pretty-printed", prettyPrinted(200'000'000), mainWindow, dir);
    }
    return 0;
}
