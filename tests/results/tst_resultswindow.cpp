#include "engine/join/errorreport.h"
#include "engine/join/joincommand.h"
#include "engine/text/textstore.h"
#include "results/resultsview.h"
#include "results/resultswindow.h"
#include "tests/support/eventcounter.h"
#include "tests/support/modalhelper.h"
#include "tests/support/testfiles.h"
#include "windowkit/windowkit.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenuBar>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <memory>

using namespace corvanta;

namespace {

const QString kCopied = QStringLiteral("Results have been copied to the clipboard.\n\nClick a text area where you "
                                       "normally type and press Ctrl+V to paste the clipboard.");

// A result long enough that its rows take many turns of the event loop to build, even in an optimised build: lines
// of different lengths, some wrapped, and \a marker once, on a line of its own nine tenths of the way in.
QString largeResult(const QString& marker) {
    QString block;
    for (int i = 0; i < 1000; ++i)
        block += QStringLiteral("  <item n=\"%1\">%2</item>\r\n").arg(i).arg(QString(i % 97, u'w'));
    const qsizetype blocks = 20'000'000 / block.size();
    QString text = QStringLiteral("<?xml version=\"1.0\"?>\r\n<items>\r\n");
    text.reserve(blocks * block.size() + 100);
    for (qsizetype i = 0; i < blocks; ++i) {
        text += block;
        if (i == blocks * 9 / 10)
            text += marker + QStringLiteral("\r\n");
    }
    return text + QStringLiteral("</items>\r\n");
}

// 2, 3 and 4 bytes of UTF-8, then CR LF and a surrogate pair again: bytes 0-1, 2-4, 5-8, 9-10, 11-14.
const QByteArray kMixed = "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\r\n\xf0\x9f\x98\x80";
const QString kMixedText = QString::fromUtf8(kMixed);

// A working file of \a blocks text store blocks in which kMixed, between the tags <mN> and </mN>, stands across
// each block's end, its byte \a cut the first of the next block at the first end (later ends move by a few bytes).
QByteArray acrossBlockEnds(int blocks, qsizetype cut) {
    QByteArray bytes;
    for (int block = 1; block <= blocks; ++block) {
        const QByteArray open = "<m" + QByteArray::number(block) + ">";
        const qsizetype at = block * TextStore::kBlockBytes - cut - open.size();
        while (bytes.size() + 12 <= at)
            bytes += "<a>w y</a>\r\n";
        bytes += QByteArray(at - bytes.size(), ' ') + open + kMixed + "</m" + QByteArray::number(block) + ">";
    }
    return bytes + "\r\n";
}

// Turns of the event loop while it runs, counted by a timer that fires on every turn.
class LoopTurns {
public:
    LoopTurns() {
        QObject::connect(&m_timer, &QTimer::timeout, [this] { ++count; });
        m_timer.start(0);
    }
    int count = 0;

private:
    QTimer m_timer;
};

QString overwriteText(const QString& path) {
    return QStringLiteral("Are you sure you wish to overwrite ") + path + QStringLiteral(" ?");
}

// The file dialog answered as a person would: the path typed into the name field, then Save. (selectFile() leaves
// the field alone once it has the focus, which depends on timing.)
std::function<void(QFileDialog*)> choose(const QString& path) {
    return [path](QFileDialog* dialog) {
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        QVERIFY(name);
        name->setText(path);
        static_cast<QDialog*>(dialog)->accept(); // the dialog's Save button
    };
}

std::function<void(QFileDialog*)> cancel() {
    return [](QFileDialog* dialog) { dialog->reject(); };
}

// The main window's side of a join: the stand-in main window and a results window made on first use.
class WindowHost final : public JoinHost {
public:
    WindowHost(QWidget& main, std::unique_ptr<ResultsWindow>& results, QStringList paths)
        : m_main(main)
        , m_results(results)
        , m_paths(std::move(paths)) {}

    int itemCount() const override { return int(m_paths.size()); }
    QString itemText(int index) const override { return m_paths.at(index - 1); }
    bool appendSelected() const override { return true; }
    QString wrapRootName() const override { return {}; }
    void setBusyPointer(bool) override {}
    void setProgress(double) override {}
    void showMessage(const QString& text, Icon) override { messages << text; }
    void showErrorReport(const QString& text) override { messages << text; }
    void setResultsText(const JoinedText& text) override { window().setResultsStore(text.store()); }
    void showResults() override { window().showResults(); }
    void hideMain() override { m_main.hide(); }

    QStringList messages;

private:
    ResultsWindow& window() {
        if (!m_results)
            m_results = std::make_unique<ResultsWindow>(&m_main);
        return *m_results;
    }

    QWidget& m_main;
    std::unique_ptr<ResultsWindow>& m_results;
    QStringList m_paths;
};

} // namespace

class TestResultsWindow : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_folders.renew();
        m_main = std::make_unique<QWidget>();
        m_main->setObjectName(QStringLiteral("Form1"));
        m_main->resize(300, 200);
        m_main->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
        m_window = std::make_unique<ResultsWindow>(m_main.get());
        m_ends = 0;
        m_window->setProgramEnd([this] { ++m_ends; });
    }

    void cleanup() {
        m_window.reset();
        m_main.reset();
    }

    void loadsAsDescribed() {
        QCOMPARE(m_window->objectName(), QStringLiteral("Form2"));
        QCOMPARE(m_window->windowTitle(), QStringLiteral("Corvanta"));
        QVERIFY(m_window->isWindow());
        QVERIFY(!m_window->isVisible());
        // A window of one size, taller than wide, that a person can neither resize nor maximise.
        QCOMPARE(m_window->minimumSize(), m_window->maximumSize());
        QCOMPARE(m_window->size(), m_window->minimumSize());
        QVERIFY(m_window->height() > m_window->width());
        QVERIFY(!m_window->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
        QVERIFY(m_window->findChildren<QMenuBar*>().isEmpty());

        // The text takes most of the window, inside it with even margins left and right, and room below it.
        auto* view = text();
        const QRect place = view->geometry();
        QVERIFY(m_window->rect().contains(place));
        QCOMPARE(place.left(), m_window->width() - 1 - place.right());
        QVERIFY(place.width() > m_window->width() * 9 / 10);
        QVERIFY(place.height() > m_window->height() * 3 / 4);
        QVERIFY(place.bottom() < m_window->height() - 1);
        QCOMPARE(view->font().family(), QStringLiteral("Calibri"));
        QCOMPARE(view->font().pointSizeF(), 11.25);
        QVERIFY(view->font().bold());
        QCOMPARE(view->text(), QStringLiteral("RichTextBox1"));
    }

    void toolbarAsDescribed() {
        handOff(QStringLiteral("<a/>"));
        auto* bar = m_window->findChild<QToolBar*>(QStringLiteral("Standard"));
        QVERIFY(bar);

        QCOMPARE(bar->windowTitle(), QStringLiteral("Standard"));
        QCOMPARE(bar->geometry().topLeft(), QPoint(0, 0));
        QCOMPARE(bar->width(), m_window->width());
        QCOMPARE(bar->iconSize(), QSize(48, 48));
        QCOMPARE(bar->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
        QCOMPARE(bar->font().family(), QStringLiteral("Calibri"));
        QCOMPARE(bar->font().pointSizeF(), 11.0);
        QVERIFY(!bar->isMovable());
        QVERIFY(bar->geometry().bottom() < text()->geometry().top());
        for (QAction* action : bar->actions())
            QVERIFY(bar->rect().contains(bar->widgetForAction(action)->geometry()));
        const auto actions = bar->actions();
        QCOMPARE(actions.size(), 3);
        const QStringList captions{u"Back"_qs, u"Save Results"_qs, u"Save Results To Clipboard"_qs};
        const QList<int> widths{100, 100, 180};
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(actions.at(i)->text(), captions.at(i));
            QCOMPARE(bar->widgetForAction(actions.at(i))->width(), widths.at(i));
        }
    }

    void centredOnceFramedAtFirstShowingOnly() {
        // Loading centres the window as far as its frame is known; the first showing, when the frame is there,
        // centres it on the real outer size. Later showings keep the place the user left it at.
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        handOff(QStringLiteral("first"));
        QVERIFY(m_window->frameGeometry().size() != m_window->size());
        QVERIFY(qAbs(m_window->frameGeometry().center().x() - screen.center().x()) <= 1);
        QVERIFY(qAbs(m_window->frameGeometry().center().y() - screen.center().y()) <= 1);

        m_window->move(40, 30);
        clickToolbar(resultsbar::back);
        handOff(QStringLiteral("second"));

        QCOMPARE(m_window->pos(), QPoint(40, 30));
    }

    // The keyboard starts in the text, and Ctrl+F finds in it without the window changing its size.
    void ctrlFFindsInsideTheWindow() {
        handOff(QStringLiteral("<a>\n  <needle/>\n</a>"));
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        QTRY_VERIFY(text()->hasFocus());
        const QSize size = m_window->size();
        const QRect textPlace = text()->geometry();

        QTest::keyClick(text(), Qt::Key_F, Qt::ControlModifier);
        auto* bar = m_window->findChild<QWidget*>(QStringLiteral("findBar"));
        QVERIFY(bar && bar->isVisible());
        auto* field = bar->findChild<QLineEdit*>(QStringLiteral("findEdit"));
        QVERIFY(field);
        QTRY_VERIFY(field->hasFocus());
        QVERIFY(textPlace.contains(bar->geometry()));
        QTest::keyClicks(field, QStringLiteral("NEEDLE"));
        QTest::keyClick(field, Qt::Key_Return);
        QTest::keyClick(field, Qt::Key_Escape);

        QCOMPARE(text()->selectedText(), QStringLiteral("needle"));
        QVERIFY(!bar->isVisible());
        QCOMPARE(text()->geometry(), textPlace);
        QCOMPARE(m_window->size(), size);
        QTRY_VERIFY(text()->hasFocus());
    }

    void handOffShowsTextAndBackReturns() {
        const QString joined = QStringLiteral("<root>\r\n  <a>1</a>\r\n</root>");
        handOff(joined);
        QVERIFY(m_window->isVisible());
        QVERIFY(!m_main->isVisible());
        QCOMPARE(text()->text(), joined);

        clickToolbar(resultsbar::back);

        QVERIFY(m_main->isVisible());
        QVERIFY(!m_window->isVisible());
        QCOMPARE(text()->text(), joined);
    }

    void secondHandOffReplacesText() {
        handOff(QStringLiteral("<long>") + QString(5000, u'x') + QStringLiteral("</long>\n"));
        clickToolbar(resultsbar::back);

        handOff(QStringLiteral("<b/>"));

        QCOMPARE(m_window->resultsText(), QStringLiteral("<b/>"));
        QCOMPARE(text()->rows().count(), 1);
    }

    // The real join in Append mode hands its result to the window, hides the main window and leaves no working
    // file.
    void joinHandsOffToTheWindow() {
        const QString tempRoot = m_folders.filePath(u"tmp"_qs);
        QVERIFY(QDir().mkpath(tempRoot));
        const QByteArray oldTemp = qgetenv("TEMP");
        qputenv("TEMP", QFile::encodeName(tempRoot));
        writeFile(m_folders.filePath(u"a.xml"_qs), "<a>caf\xc3\xa9</a>\n");
        writeFile(m_folders.filePath(u"b.xml"_qs), "<b/>");
        m_window.reset();
        std::unique_ptr<ResultsWindow> made;
        WindowHost host(*m_main, made, {m_folders.filePath(u"a.xml"_qs), m_folders.filePath(u"b.xml"_qs)});

        joinFiles(host);
        qputenv("TEMP", oldTemp);

        QVERIFY(made);
        made->setProgramEnd([] {});
        QCOMPARE(host.messages, QStringList());
        QCOMPARE(made->resultsText(), QStringLiteral("<a>caf\u00e9</a>\n<b/>"));
        QVERIFY(made->isVisible());
        QVERIFY(!m_main->isVisible());
        QCOMPARE(QDir(tempRoot).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
    }

    void saveDialogAsDescribed() {
        handOff(QStringLiteral("<a/>"));
        QString title, fileName, folder;
        QStringList filters;
        QString suffix = u"unset"_qs;
        bool nonNative = false, ownOverwriteQuestion = true, saving = false;
        ModalAnswerer answerer;
        answerer.handleFileDialog([&](QFileDialog* dialog) {
            title = dialog->windowTitle();
            filters = dialog->nameFilters();
            suffix = dialog->defaultSuffix();
            nonNative = dialog->testOption(QFileDialog::DontUseNativeDialog);
            ownOverwriteQuestion = !dialog->testOption(QFileDialog::DontConfirmOverwrite);
            saving = dialog->acceptMode() == QFileDialog::AcceptSave;
            fileName = dialog->findChild<QLineEdit*>(u"fileNameEdit"_qs)->text();
            dialog->reject();
        });
        answerer.answerMessage(QMessageBox::Ok);

        clickToolbar(resultsbar::saveResults);

        QVERIFY(answerer.allAnswered());
        QCOMPARE(title, QStringLiteral("Output File"));
        QCOMPARE(filters, QStringList{u"XML Files (*.xml)"_qs});
        QCOMPARE(suffix, QString());
        QVERIFY(nonNative);
        QVERIFY(!ownOverwriteQuestion);
        QVERIFY(saving);
        QCOMPARE(fileName, QString());
    }

    void saveToNewFileWritesExactBytes_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("file"); // when not empty, a working file handed off instead of the text
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("ascii") << QStringLiteral("<a>1</a>") << QByteArray() << QByteArray("<a>1</a>");
        QTest::newRow("utf-8, line breaks and mark as given")
            << QStringLiteral("\ufeff<a>caf\u00e9 \u20ac\r\n<b>\U0001F600</b>\n</a>\r") << QByteArray()
            << QByteArray("\xef\xbb\xbf<a>caf\xc3\xa9 \xe2\x82\xac\r\n<b>\xf0\x9f\x98\x80</b>\n</a>\r");
        // A stored result is a copy of the working file.
        const QByteArray utf8 = acrossBlockEnds(40, 6);
        QTest::newRow("stored UTF-8, as it is") << QString() << utf8 << utf8;
        const QByteArray cp1252 = acrossBlockEnds(3, 3) + "caf\xe9";
        QTest::newRow("stored Windows-1252, recoded") << QString() << cp1252 << acrossBlockEnds(3, 3) + "caf\xc3\xa9";
    }

    void saveToNewFileWritesExactBytes() {
        QFETCH(QString, text);
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, bytes);
        if (file.isEmpty())
            handOff(text);
        else
            text = handOffFile(file);
        const QString path = m_folders.filePath(u"out.xml"_qs);
        ModalAnswerer answerer;
        answerer.handleFileDialog(choose(path));
        answerer.answerMessage(QMessageBox::Ok);

        clickToolbar(resultsbar::saveResults);

        QVERIFY(answerer.allAnswered());
        QCOMPARE(answerer.texts(), QStringList{u"Done."_qs});
        QCOMPARE(answerer.seen().at(0).title, QStringLiteral("Corvanta"));
        QCOMPARE(answerer.seen().at(0).icon, QMessageBox::NoIcon);
        QCOMPARE(answerer.seen().at(0).buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QVERIFY(readFile(path) == bytes);
        QCOMPARE(m_window->resultsText(), text);
    }

    void overwriteQuestion_data() {
        QTest::addColumn<QMessageBox::StandardButton>("answer");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("yes replaces the whole file") << QMessageBox::Yes << QByteArray("<new/>");
        QTest::newRow("no leaves it") << QMessageBox::No << QByteArray("<old>") + QByteArray(4000, 'o') + "</old>";
    }

    void overwriteQuestion() {
        QFETCH(QMessageBox::StandardButton, answer);
        QFETCH(QByteArray, after);
        const QString path = m_folders.filePath(u"existing.xml"_qs);
        writeFile(path, QByteArray("<old>") + QByteArray(4000, 'o') + "</old>");
        handOff(QStringLiteral("<new/>"));
        ModalAnswerer answerer;
        answerer.handleFileDialog(choose(path));
        answerer.answerMessage(answer);
        answerer.answerMessage(QMessageBox::Ok);

        clickToolbar(resultsbar::saveResults);

        QVERIFY(answerer.allAnswered());
        QCOMPARE(answerer.texts(), (QStringList{overwriteText(path), u"Done."_qs}));
        const SeenBox& question = answerer.seen().at(0);
        QCOMPARE(question.title, QStringLiteral("Corvanta"));
        QCOMPARE(question.icon, QMessageBox::NoIcon);
        QCOMPARE(question.buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(question.defaultButton, QMessageBox::Yes);
        QCOMPARE(readFile(path), after);
        QCOMPARE(QDir(m_folders.path()).entryList(QDir::Files | QDir::Hidden), QStringList{u"existing.xml"_qs});
    }

    void cancelWritesNothing() {
        handOff(QStringLiteral("<a/>"));
        ModalAnswerer answerer;
        answerer.handleFileDialog(cancel());
        answerer.answerMessage(QMessageBox::Ok);

        clickToolbar(resultsbar::saveResults);

        QVERIFY(answerer.allAnswered());
        QCOMPARE(answerer.texts(), QStringList{u"Done."_qs});
        QCOMPARE(QDir(m_folders.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList());
    }

    void nameWithoutExtensionIsUsedAsTyped() {
        handOff(QStringLiteral("<a/>"));
        ModalAnswerer answerer;
        answerer.handleFileDialog(choose(m_folders.filePath(u"result"_qs)));
        answerer.answerMessage(QMessageBox::Ok);

        clickToolbar(resultsbar::saveResults);

        QVERIFY(answerer.allAnswered());
        QCOMPARE(QDir(m_folders.path()).entryList(QDir::Files | QDir::Hidden), QStringList{u"result"_qs});
        QCOMPARE(readFile(m_folders.filePath(u"result"_qs)), QByteArray("<a/>"));
    }

    // The second save asks the overwrite question, and its dialog opens without the last name but in the last
    // folder.
    void savingTwiceAsksTheSecondTime() {
        handOff(QStringLiteral("<a/>"));
        const QString path = m_folders.filePath(u"twice.xml"_qs);
        QString secondName = u"unset"_qs, secondFolder;
        ModalAnswerer answerer;
        answerer.handleFileDialog(choose(path));
        answerer.answerMessage(QMessageBox::Ok);
        answerer.handleFileDialog([&](QFileDialog* dialog) {
            secondName = dialog->findChild<QLineEdit*>(u"fileNameEdit"_qs)->text();
            secondFolder = dialog->directory().absolutePath();
            choose(path)(dialog);
        });
        answerer.answerMessage(QMessageBox::Yes);
        answerer.answerMessage(QMessageBox::Ok);

        clickToolbar(resultsbar::saveResults);
        clickToolbar(resultsbar::saveResults);

        QVERIFY(answerer.allAnswered());
        QCOMPARE(answerer.texts(), (QStringList{u"Done."_qs, overwriteText(path), u"Done."_qs}));
        QCOMPARE(secondName, QString());
        QCOMPARE(secondFolder, QDir(m_folders.path()).absolutePath());
    }

    void failedWriteReportsWithoutDone() {
        handOff(QStringLiteral("<a/>"));
        const QString path = m_folders.filePath(u"missing/out.xml"_qs);
        ModalAnswerer answerer;
        answerer.handleFileDialog(choose(path));
        answerer.answerMessage(QMessageBox::Ok);

        clickToolbar(resultsbar::saveResults);

        QVERIFY(answerer.allAnswered());
        QCOMPARE(answerer.seen().size(), 1);
        expectReport(answerer.seen().at(0), location::SaveResults, 130);
        QCOMPARE(QDir(m_folders.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList());
    }

    // A name as long as the file system allows leaves no room for a temporary name beside it, so the write fails
    // with the old file in place.
    void failedOverwriteKeepsOldFile() {
        const QString name = QString(251, u'n') + u".xml"_qs;
        const QString path = m_folders.filePath(name);
        writeFile(path, "<old/>");
        handOff(QStringLiteral("<new>") + QString(1000, u'x') + QStringLiteral("</new>"));
        ModalAnswerer answerer;
        answerer.handleFileDialog(choose(path));
        answerer.answerMessage(QMessageBox::Yes);
        answerer.answerMessage(QMessageBox::Ok);

        clickToolbar(resultsbar::saveResults);

        QVERIFY(answerer.allAnswered());
        QCOMPARE(answerer.seen().size(), 2);
        QCOMPARE(answerer.seen().at(0).text, overwriteText(path));
        expectReport(answerer.seen().at(1), location::SaveResults, 130);
        QCOMPARE(readFile(path), QByteArray("<old/>"));
        QCOMPARE(QDir(m_folders.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{name});
    }

    void clipboardHoldsWholeText_data() {
        QTest::addColumn<QString>("joined");
        QTest::newRow("text") << QStringLiteral("<r>\r\n\t<a>caf\u00e9</a>\r\n</r>\r\n") + QString(20000, u'y');
        QTest::newRow("empty text still tells") << QString();
    }

    void clipboardHoldsWholeText() {
        QFETCH(QString, joined);
        handOff(joined);
        QGuiApplication::clipboard()->clear();
        ModalAnswerer answerer;
        answerer.answerMessage(QMessageBox::Ok);

        clickToolbar(resultsbar::saveClipboard);

        QVERIFY(answerer.allAnswered());
        QCOMPARE(answerer.texts(), QStringList{kCopied});
        QCOMPARE(answerer.seen().at(0).title, QStringLiteral("Corvanta"));
        QCOMPARE(answerer.seen().at(0).icon, QMessageBox::NoIcon);
        QCOMPARE(answerer.seen().at(0).buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(QGuiApplication::clipboard()->text(), joined);
        QCOMPARE(text()->selectionStart(), 0);
        QCOMPARE(text()->selectionLength(), joined.size());
        QCOMPARE(m_window->resultsText(), joined);
    }

    // A large result shows its first screen at once and the rest of its rows are built between events: the window
    // paints and takes keys meanwhile, and a place asked for before its rows exist is shown once they do.
    void largeResultIsPreparedWhileTheWindowAnswers() {
        const QString joined = largeResult(QStringLiteral("<marker/>"));
        EventCounter paints(QEvent::Paint);
        text()->viewport()->installEventFilter(&paints);

        handOff(joined);
        QVERIFY(!text()->rowsComplete());
        QCOMPARE_GE(text()->rows().count(), qsizetype(text()->visibleRowCount()));
        QCOMPARE(text()->rows().at(0).start, 0);
        QCOMPARE(text()->firstVisibleRow(), 0);

        LoopTurns turns;
        QTRY_VERIFY(paints.count > 0);
        QTest::keyClick(text(), Qt::Key_End, Qt::ControlModifier);
        QVERIFY(!text()->rowsComplete());
        QCOMPARE(text()->cursorPosition(), joined.size());
        QTRY_VERIFY_WITH_TIMEOUT(text()->rowsComplete(), 60000);
        QCOMPARE_GE(turns.count, 10);

        const TextRows& rows = text()->rows();
        QCOMPARE(rows.at(rows.count() - 1).start, joined.size()); // the empty row after the last line break
        QVERIFY(text()->viewport()->rect().contains(text()->rowRect(rows.count() - 1)));
        QCOMPARE(text()->firstVisibleRow() + text()->visibleRowCount(), rows.count());
        for (qsizetype i = 1; i < rows.count(); ++i) {
            const TextRow& before = rows.at(i - 1);
            const qsizetype gap = rows.at(i).start - (before.start + before.length);
            if (gap != 0 && gap != 2) // rows of one line meet; lines are apart by their CR LF
                QFAIL(qPrintable(QStringLiteral("row %1 starts %2 after the row before").arg(i).arg(gap)));
        }
    }

    // Find, save and copy while the rows are still being built give the whole text and the right place.
    void findSaveAndCopyWhilePreparedAnswerWhole() {
        const QString marker = QStringLiteral("<only-here/>");
        const QString joined = largeResult(marker);
        const qsizetype markerAt = joined.indexOf(marker);
        handOff(joined);
        QVERIFY(!text()->rowsComplete());

        QTest::keyClick(text(), Qt::Key_F, Qt::ControlModifier);
        auto* field = m_window->findChild<QLineEdit*>(QStringLiteral("findEdit"));
        QVERIFY(field && field->isVisible());
        QTest::keyClicks(field, marker);
        QTest::keyClick(field, Qt::Key_Return);
        QVERIFY(!text()->rowsComplete());
        QCOMPARE(text()->selectionStart(), markerAt);
        QCOMPARE(text()->selectedText(), marker);

        const QString path = m_folders.filePath(u"large.xml"_qs);
        ModalAnswerer answerer;
        answerer.handleFileDialog(choose(path));
        answerer.answerMessage(QMessageBox::Ok);
        clickToolbar(resultsbar::saveResults);
        QVERIFY(answerer.allAnswered());
        QCOMPARE(answerer.texts(), QStringList{u"Done."_qs});
        QCOMPARE(readFile(path), joined.toUtf8());

        QTRY_VERIFY_WITH_TIMEOUT(text()->rowsComplete(), 60000);
        const QRect matchRow = text()->rowRect(text()->rows().rowOf(markerAt));
        QVERIFY(text()->viewport()->rect().contains(matchRow));

        handOff(joined + u'\n');
        QVERIFY(!text()->rowsComplete());
        QGuiApplication::clipboard()->clear();
        ModalAnswerer copied;
        copied.answerMessage(QMessageBox::Ok);
        clickToolbar(resultsbar::saveClipboard);
        QVERIFY(copied.allAnswered());
        QCOMPARE(copied.texts(), QStringList{kCopied});
        QCOMPARE(QGuiApplication::clipboard()->text(), joined + u'\n');
    }

    // What assistive technology reads of rows not built yet is what it reads once they are.
    void accessibleLinesWhilePreparedMatchTheBuiltRows() {
        const QString joined = largeResult(QStringLiteral("<marker/>"));
        handOff(joined);
        QVERIFY(!text()->rowsComplete());
        QAccessibleTextInterface* accessible = QAccessible::queryAccessibleInterface(text())->textInterface();
        QVERIFY(accessible);
        const QList<int> offsets{int(joined.size()) * 9 / 10, int(joined.size()) - 3, int(joined.size())};
        const auto lines = [&] {
            QStringList read;
            for (int offset : offsets) {
                int start = -1;
                int end = -1;
                read << QStringLiteral("%1 %2 %3")
                            .arg(accessible->textAtOffset(offset, QAccessible::LineBoundary, &start, &end))
                            .arg(start)
                            .arg(end);
            }
            return read;
        };
        const QStringList early = lines();
        QCOMPARE(accessible->characterCount(), joined.size());
        QVERIFY(!text()->rowsComplete());

        QTRY_VERIFY_WITH_TIMEOUT(text()->rowsComplete(), 60000);
        QCOMPARE(early, lines());
    }

    // In the window as shown, a long result's scroll bar is the text's one child, in step with the bar on screen as
    // keys move the caret; the text itself still reads as before.
    void scrollBarOfALongResultIsInTheAccessibleTree() {
        const QString joined = QStringLiteral("  <item/>\r\n").repeated(2000);
        handOff(joined);
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(text());
        QCOMPARE(iface->childCount(), 1);
        QCOMPARE(iface->indexOfChild(iface->child(0)), 0);
        QAccessibleInterface* scroll = iface->child(0)->child(0);
        QCOMPARE(scroll->role(), QAccessible::ScrollBar);
        QCOMPARE(scroll->valueInterface()->maximumValue().toInt(), text()->verticalScrollBar()->maximum());

        QTest::keyClick(text(), Qt::Key_End, Qt::ControlModifier);

        QTRY_COMPARE(scroll->valueInterface()->currentValue().toInt(), text()->verticalScrollBar()->maximum());
        QVERIFY(text()->verticalScrollBar()->maximum() > 0);
        QCOMPARE(iface->textInterface()->characterCount(), joined.size());
        QCOMPARE(iface->textInterface()->cursorPosition(), joined.size());
    }

    // Back and closing while the rows are built end at once; the window, gone halfway, leaves nothing running.
    void backAndClosingWhilePreparedEndCleanly() {
        const QString joined = largeResult(QStringLiteral("<marker/>"));
        handOff(joined);
        QVERIFY(!text()->rowsComplete());

        clickToolbar(resultsbar::back);
        QVERIFY(m_main->isVisible());
        QVERIFY(!m_window->isVisible());
        QCOMPARE(m_window->resultsText(), joined);

        handOff(joined);
        QVERIFY(!text()->rowsComplete());
        QVERIFY(m_window->close());
        QCOMPARE(m_ends, 1);
        m_window.reset();
        LoopTurns turns;
        QTRY_VERIFY(turns.count > 20);
    }

    void closingEndsProgramWithoutMainWindowClosing() {
        EventCounter counter(QEvent::Close);
        m_main->installEventFilter(&counter);
        handOff(QStringLiteral("<a/>"));

        QVERIFY(m_window->close());

        QCOMPARE(m_ends, 1);
        QCOMPARE(counter.count, 0);
        QVERIFY(!m_main->isVisible());
    }

    void backReportsWhenMainWindowIsGone() {
        handOff(QStringLiteral("<a/>"));
        m_main.reset();
        ModalAnswerer answerer;
        answerer.answerMessage(QMessageBox::Ok);

        m_window->goBack();

        QVERIFY(answerer.allAnswered());
        QCOMPARE(answerer.seen().size(), 1);
        expectReport(answerer.seen().at(0), location::GoBack, 106);
        QVERIFY(!m_window->isVisible());
    }

    void storedResultFindsSelectsCopiesAndReadsAcrossABlockEnd_data() {
        QTest::addColumn<qsizetype>("cut");
        QTest::newRow("in a 4-byte character") << qsizetype(6);
        QTest::newRow("in a 3-byte character") << qsizetype(3);
        QTest::newRow("between CR and LF") << qsizetype(10);
    }

    void storedResultFindsSelectsCopiesAndReadsAcrossABlockEnd() {
        QFETCH(qsizetype, cut);
        const QString whole = handOffFile(acrossBlockEnds(4, cut));
        const QString needle = kMixedText + u"</m1>"_qs;
        const qsizetype at = whole.indexOf(needle);

        QTest::keyClick(text(), Qt::Key_F, Qt::ControlModifier);
        auto* field = m_window->findChild<QLineEdit*>(QStringLiteral("findEdit"));
        QVERIFY(field && field->isVisible());
        field->insert(needle.toUpper()); // as pasted: the keyboard of a test types ASCII only
        QTest::keyClick(field, Qt::Key_Return);
        QCOMPARE(text()->selectionStart(), at);
        QCOMPARE(text()->selectedText(), needle);
        QTest::keyClick(field, Qt::Key_Escape);
        QTRY_VERIFY(text()->hasFocus());

        // Over the end of the block by characters: a surrogate pair and CR LF are one each.
        QTest::keyClick(text(), Qt::Key_Left);
        for (int i = 0; i < 5; ++i)
            QTest::keyClick(text(), Qt::Key_Right, Qt::ShiftModifier);
        QTest::keyClick(text(), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), kMixedText);

        QAccessibleTextInterface* accessible = QAccessible::queryAccessibleInterface(text())->textInterface();
        QCOMPARE(accessible->characterCount(), int(whole.size()));
        QCOMPARE(accessible->text(int(at) - 3, int(at + needle.size())), whole.mid(at - 3, needle.size() + 3));
        int start = -1;
        int end = -1;
        QCOMPARE(accessible->textAtOffset(int(at) + 3, QAccessible::CharBoundary, &start, &end), u"\U0001F600"_qs);
        QCOMPARE(start, at + 2);
        QCOMPARE(accessible->cursorPosition(), int(at + kMixedText.size()));
    }

    void backLetsGoOfAStoredResult_data() {
        QTest::addColumn<int>("blocks");
        QTest::addColumn<bool>("kept");
        QTest::newRow("small: the text stays") << 2 << true;
        QTest::newRow("large: the text goes") << 20 << false;
    }

    // The working file, nameless since the join, is read while the window shows it and let go of with Back.
    void backLetsGoOfAStoredResult() {
        QFETCH(int, blocks);
        QFETCH(bool, kept);
        const QString whole = handOffFile(acrossBlockEnds(blocks, 6));
        QCOMPARE(whole.size() <= ResultsWindow::kKeptAfterBack, kept);
        const std::weak_ptr<const TextStore> shown = m_window->resultsStore();
        QCOMPARE(m_window->resultsText(), whole);

        clickToolbar(resultsbar::back);

        QVERIFY(m_main->isVisible());
        QVERIFY(shown.expired());
        QCOMPARE(m_window->resultsText(), kept ? whole : QString());
    }

    void copyingMoreThan64MegabytesAsksFirst_data() {
        QTest::addColumn<QMessageBox::StandardButton>("answer");
        QTest::newRow("no keeps the clipboard") << QMessageBox::No;
        QTest::newRow("yes copies") << QMessageBox::Yes;
    }

    void copyingMoreThan64MegabytesAsksFirst() {
        QFETCH(QMessageBox::StandardButton, answer);
        // 32 Mi characters and one more line: just over 64 MB as the clipboard holds it.
        handOffFile((QByteArray(1023, 'x') + '\n').repeated(32 * 1024) + "y\n");
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        ModalAnswerer answerer;
        answerer.answerMessage(answer);
        if (answer == QMessageBox::Yes)
            answerer.answerMessage(QMessageBox::Ok);

        clickToolbar(resultsbar::saveClipboard);

        QVERIFY(answerer.allAnswered());
        const QString question =
            QStringLiteral("The text to copy is 65 MB. A clipboard that large takes as much memory "
                           "again and can make this and other programs slow.\n\nCopy it anyway?");
        QCOMPARE(answerer.texts(),
                 answer == QMessageBox::Yes ? (QStringList{question, kCopied}) : (QStringList{question}));
        QCOMPARE(answerer.seen().at(0).icon, QMessageBox::Question);
        QCOMPARE(answerer.seen().at(0).buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(QGuiApplication::clipboard()->text().size(),
                 answer == QMessageBox::Yes ? text()->store().size() : qsizetype(6)); // "before"
    }

private:
    ResultsView* text() const {
        auto* view = m_window->findChild<ResultsView*>(QStringLiteral("Text2"));
        Q_ASSERT(view);
        return view;
    }

    // The join's hand-off, as the main window runs it.
    void handOff(const QString& joined) {
        m_window->setResultsText(joined);
        m_window->showResults();
        m_main->hide();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }

    // The join's hand-off of a working file holding \a bytes, which goes right after, as the join removes it;
    // returns the text that the whole file decodes to.
    QString handOffFile(const QByteArray& bytes) {
        const QString working = m_folders.filePath(u"work/temp.xml"_qs);
        writeFile(working, bytes);
        const QString whole = JoinedText(working).text();
        m_window->setResultsStore(JoinedText(working).store());
        QFile::remove(working);
        m_window->showResults();
        m_main->hide();
        [&] { QVERIFY(QTest::qWaitForWindowExposed(m_window.get())); }();
        return whole;
    }

    void clickToolbar(const char* name) {
        auto* button = m_window->findChild<QToolButton*>(QLatin1String(name));
        QVERIFY2(button, name);
        QVERIFY(button->isVisible() && button->isEnabled());
        QTest::mouseClick(button, Qt::LeftButton);
    }

    static void expectReport(const SeenBox& box, const char* where, int step) {
        QCOMPARE(box.title, QStringLiteral("Application Error"));
        QCOMPARE(box.icon, QMessageBox::Warning);
        QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        const QStringList lines = box.text.split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 4);
        QVERIFY(!lines.at(0).isEmpty());
        QCOMPARE(lines.at(1), QString::fromLatin1(where) + QStringLiteral("at line ") + QString::number(step));
        QCOMPARE(lines.at(2), QString());
        QCOMPARE(lines.at(3), QStringLiteral("Please email screenshot of this message to ") + supportAddress());
    }

    TestFolders m_folders{TestFolders::Temp::Unchanged};
    std::unique_ptr<QWidget> m_main;
    std::unique_ptr<ResultsWindow> m_window;
    int m_ends = 0;
};

QTEST_MAIN(TestResultsWindow)
#include "tst_resultswindow.moc"
