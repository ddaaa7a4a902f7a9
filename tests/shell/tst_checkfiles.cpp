// Check Files and the item marks a check or a join leaves, driven through the real main window.
#include "filelist/filelistview.h"
#include "results/resultswindow.h"
#include "shell/mainwindow.h"
#include "shell/menunames.h"
#include "tests/shell/windowdriver.h"
#include "tests/support/modalhelper.h"
#include "tests/support/testfiles.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QProgressBar>
#include <QRadioButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>
#include <memory>

using namespace corvanta;

namespace {

const QByteArray kFine = "<r><a><x/><y/></a><b/></r>";

} // namespace

class TestCheckFiles : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void init() {
        startOnFirstRun(m_folders, m_window);
        m_inputCount = 0;
    }

    void cleanup() { m_window.reset(); }

    void checkMarksEveryItemAndNamesTheProblems() {
        const QStringList paths = fillList({kFine, "<r><a/></r>", kFine, "<r>", "<s><a/><b/></s>"});
        ModalAnswerer answerer;
        answerer.answerMessage(QMessageBox::Ok);

        chooseCheckFilesAndWait();

        QVERIFY(answerer.allAnswered());
        const SeenBox box = answerer.seen().first();
        QCOMPARE(box.title, QStringLiteral("Corvanta"));
        QCOMPARE(box.icon, QMessageBox::Warning);
        QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        const QStringList lines{
            paths[0] + ": ok (root r, 2 top-level nodes)",
            paths[1] + ": 1 top-level node, but " + paths[0] + " has 2",
            paths[2] + ": ok (root r, 2 top-level nodes)",
            paths[3] + ": not well-formed at line 1, column 4: Premature end of data in tag r line 1",
            paths[4] + ": root s, but " + paths[0] + " has root r",
        };
        QCOMPARE(box.text, "3 of 5 files would stop a Merge.\n\n" + lines[1] + "\n" + lines[3] + "\n" + lines[4]);
        QCOMPARE(marks(), (QList<ItemMark>{ItemMark::Fine, ItemMark::Problem, ItemMark::Fine, ItemMark::Problem,
                                           ItemMark::Problem}));
        QCOMPARE(statuses(), lines);
        QCOMPARE(list().itemTexts(), paths);
        QCOMPARE(progressBar()->value(), 0);
        QVERIFY(m_window->cursor().shape() != Qt::WaitCursor);
    }

    void checkSays_data() {
        QTest::addColumn<QList<QByteArray>>("texts");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QMessageBox::Icon>("icon");
        QTest::newRow("all fine") << QList<QByteArray>{kFine, kFine, kFine} << "All 3 files can be merged."
                                  << QMessageBox::NoIcon;
        QTest::newRow("empty list") << QList<QByteArray>{} << "No files added." << QMessageBox::NoIcon;
        QList<QByteArray> broken{kFine};
        for (int i = 0; i < 8; ++i)
            broken << "<r/>";
        QTest::newRow("the first few problems") << broken << "" << QMessageBox::Warning;
    }

    void checkSays() {
        QFETCH(QList<QByteArray>, texts);
        QFETCH(QString, text);
        QFETCH(QMessageBox::Icon, icon);
        const QStringList paths = fillList(texts);
        ModalAnswerer answerer;
        answerer.answerMessage(QMessageBox::Ok);

        chooseCheckFilesAndWait();

        QVERIFY(answerer.allAnswered());
        if (text.isEmpty()) {
            QStringList lines{"8 of 9 files would stop a Merge.", ""};
            for (int i = 1; i <= 5; ++i)
                lines << paths[i] + ": 0 top-level nodes, but " + paths[0] + " has 2";
            lines << "... and 3 more, marked in the list.";
            text = lines.join('\n');
        }
        QCOMPARE(answerer.seen().first().text, text);
        QCOMPARE(answerer.seen().first().icon, icon);
    }

    // The marks are the items': a drag in the window carries them, the Delete key takes one away.
    void marksFollowADragAndGoWithARemoval() {
        fillList({kFine, "<r/>", kFine, kFine});
        checkFiles();
        const QStringList lines = statuses();

        QTest::mousePress(list().viewport(), Qt::LeftButton, {}, rowPoint(list(), 1));
        QTest::mouseMove(list().viewport(), rowPoint(list(), 2));
        QTest::mouseMove(list().viewport(), rowPoint(list(), 3));
        QTest::mouseRelease(list().viewport(), Qt::LeftButton, {}, rowPoint(list(), 3));

        QCOMPARE(marks(), (QList<ItemMark>{ItemMark::Fine, ItemMark::Fine, ItemMark::Fine, ItemMark::Problem}));
        QCOMPARE(statuses(), (QStringList{lines[0], lines[2], lines[3], lines[1]}));

        QTest::keyClick(&list(), Qt::Key_Delete); // the dragged item is the selected one
        QCOMPARE(marks(), (QList<ItemMark>{ItemMark::Fine, ItemMark::Fine, ItemMark::Fine}));
        QCOMPARE(statuses(), (QStringList{lines[0], lines[2], lines[3]}));
    }

    void mergeThatStopsSelectsAndMarksTheInput() {
        QList<QByteArray> texts(40, kFine);
        texts[32] = "<r><a/></r>";
        const QStringList paths = fillList(texts);
        list().scrollToTop();
        QTest::mouseClick(list().viewport(), Qt::LeftButton, {}, rowPoint(list(), 0));
        ModalAnswerer answerer;
        answerer.answerMessage(QMessageBox::Ok);

        clickStartJoiningAndWait(m_window.get());

        QVERIFY(answerer.allAnswered());
        QCOMPARE(answerer.texts(), QStringList{"XML files do not have same structure, join aborted."});
        QCOMPARE(selectedRows(), QList<int>{32});
        QCOMPARE(list().currentItem(), list().topLevelItem(32));
        QVERIFY(list().viewport()->rect().contains(list().visualItemRect(list().topLevelItem(32))));
        QCOMPARE(list().itemMark(33), ItemMark::Problem);
        QCOMPARE(list().itemStatus(33), paths[32] + ": 1 top-level node, but " + paths[0] + " has 2");
        QCOMPARE(list().itemMark(32), ItemMark::None); // merged in memory, but nothing was kept
        QCOMPARE(list().itemStatus(32), QString());
    }

    // Merge goes on past a first input that does not parse and stops at the second; the first is to blame.
    void firstInputThatDoesNotParseIsTheOneMarked() {
        const QStringList paths = fillList({"<r><a>", kFine});
        ModalAnswerer answerer;
        for (int box = 0; box < 4; ++box) // the parse error, two error reports, the structure message
            answerer.answerMessage(QMessageBox::Ok);

        clickStartJoiningAndWait(m_window.get());

        QVERIFY(answerer.allAnswered());
        QCOMPARE(selectedRows(), QList<int>{0});
        QCOMPARE(marks(), (QList<ItemMark>{ItemMark::Problem, ItemMark::None}));
        QVERIFY(list().itemStatus(1).startsWith(paths[0] + ": not well-formed at line 1, column 7: "));
    }

    void itemsTellTheirContributionAfterBack() {
        fillList({kFine, "<r><a><x/><z/><w/></a><b><x/></b></r>", "<r><a><z/></a><b/></r>"});
        chooseMode(false);

        clickStartJoiningAndWait(m_window.get());
        ResultsWindow& results = m_window->resultsWindow();
        QVERIFY(results.isVisible());
        clickToolButton(&results, "backAction");

        QVERIFY(m_window->isVisible());
        QCOMPARE(statuses(), (QStringList{"Base document: the other files were merged into it",
                                          "3 nodes added, 1 already there", "0 nodes added, 1 already there"}));
        QCOMPARE(marks(), (QList<ItemMark>{ItemMark::Fine, ItemMark::Fine, ItemMark::Fine}));
    }

    void combineGivesOneDocumentAndTellsWhatEachFileAdded() {
        fillList({"<urlset><url>a</url><url>b</url></urlset>", "<urlset>\n<url>b</url>\n<url>c</url>\n</urlset>"});
        chooseOption("Option3");
        clickTab(m_window.get(), 1);
        QTest::mouseClick(m_window->findChild<QCheckBox*>(QStringLiteral("UniqueNodes")), Qt::LeftButton);
        clickTab(m_window.get(), 0);

        clickStartJoiningAndWait(m_window.get());
        ResultsWindow& results = m_window->resultsWindow();
        QCOMPARE(results.resultsText(),
                 QStringLiteral("<urlset>\n  <url>a</url>\n  <url>b</url>\n  <url>c</url>\n</urlset>\n"));
        clickToolButton(&results, "backAction");

        QCOMPARE(statuses(), (QStringList{"Base document: the other files' nodes were added under its root",
                                          "1 node added, 1 repeated left out"}));
        QCOMPARE(marks(), (QList<ItemMark>{ItemMark::Fine, ItemMark::Fine}));
    }

    void combineThatStopsMarksTheInputAndCheckFilesFindsIt() {
        const QStringList paths = fillList({kFine, "<r/>", "<s><a/></s>"});
        chooseOption("Option3");
        ModalAnswerer answerer;
        answerer.answerMessage(QMessageBox::Ok);

        clickStartJoiningAndWait(m_window.get());

        QVERIFY(answerer.allAnswered());
        QCOMPARE(answerer.texts(), QStringList{QStringLiteral("The root element of %1 is \"r\", but that of %2 is "
                                                              "\"s\": files are combined only under the same root "
                                                              "element. Join aborted.")
                                                   .arg(paths[0], paths[2])});
        QCOMPARE(selectedRows(), QList<int>{2});
        QCOMPARE(list().itemStatus(3), paths[2] + ": root s, but " + paths[0] + " has root r");

        ModalAnswerer checkAnswerer;
        checkAnswerer.answerMessage(QMessageBox::Ok);
        chooseCheckFilesAndWait();
        QVERIFY(checkAnswerer.allAnswered());
        QVERIFY(checkAnswerer.texts().value(0).startsWith(QStringLiteral("1 of 3 files would stop a Combine.")));
        QCOMPARE(marks(), (QList<ItemMark>{ItemMark::Fine, ItemMark::Fine, ItemMark::Problem}));
    }

    void appendTellsWhatEachFileGave() {
        const QStringList paths = fillList({"<a/>", ""});
        list().appendItem(m_folders.filePath("missing.xml"));
        chooseMode(true);
        ModalAnswerer answerer; // the missing input's report
        answerer.answerMessage(QMessageBox::Ok);

        clickStartJoiningAndWait(m_window.get());
        QVERIFY(answerer.allAnswered());
        QVERIFY(answerer.texts().value(0).startsWith("No such file or directory"));
        clickToolButton(&m_window->resultsWindow(), "backAction");

        QCOMPARE(statuses(), (QStringList{"4 bytes added, read as UTF-8", "Empty: the words \"empty file\" added",
                                          "Missing: nothing added"}));
        QCOMPARE(marks(), (QList<ItemMark>{ItemMark::Fine, ItemMark::Fine, ItemMark::Problem}));
    }

    // A join replaces the marks of a check; a check replaces the marks of a join.
    void eachCheckOrJoinReplacesTheMarks() {
        fillList({kFine, "<r/>", kFine});
        checkFiles();
        QCOMPARE(marks(), (QList<ItemMark>{ItemMark::Fine, ItemMark::Problem, ItemMark::Fine}));

        ModalAnswerer answerer;
        answerer.answerMessage(QMessageBox::Ok);
        clickStartJoiningAndWait(m_window.get());
        QVERIFY(answerer.allAnswered());
        QCOMPARE(marks(), (QList<ItemMark>{ItemMark::None, ItemMark::Problem, ItemMark::None}));

        checkFiles();
        QCOMPARE(marks(), (QList<ItemMark>{ItemMark::Fine, ItemMark::Problem, ItemMark::Fine}));
    }

    // Keeping going: one box at the end, every input left out marked with its reason, the rest joined; the
    // result is what the good inputs alone give.
    void skippingBadFilesJoinsTheRestAndMarksTheSkipped_data() {
        QTest::addColumn<QByteArray>("mode");
        QTest::addColumn<int>("inputs");
        QTest::addColumn<QList<int>>("badAt");
        QTest::newRow("a few") << QByteArray("Option2") << 6 << QList<int>{0, 2, 5};
        QTest::newRow("more than the box names")
            << QByteArray("Option2") << 30 << QList<int>{0, 1, 3, 4, 6, 7, 9, 10, 12, 13, 15, 16, 20};
        QTest::newRow("Combine") << QByteArray("Option3") << 7 << QList<int>{0, 3, 4, 6};
    }

    void skippingBadFilesJoinsTheRestAndMarksTheSkipped() {
        QFETCH(QByteArray, mode);
        QFETCH(int, inputs);
        QFETCH(QList<int>, badAt);
        // Combine takes any number of top-level nodes: only the root can differ.
        const bool combine = mode == "Option3";
        const QList<QByteArray> badTexts{"<r><a>", "<s><a/><b/></s>", combine ? "<t><a/></t>" : "<r><a/></r>"};
        QList<QByteArray> texts;
        QList<QByteArray> goodTexts;
        int firstGood = 0;
        while (badAt.contains(firstGood))
            ++firstGood;
        for (int i = 0; i < inputs; ++i) {
            const qsizetype bad = badAt.indexOf(i);
            // None before the first good one has a wrong shape: it would be a usable base.
            texts << (bad < 0 ? QByteArray("<r><a><x%1/></a><b/></r>").replace("%1", QByteArray::number(i))
                              : badTexts[i < firstGood ? 0 : bad % 3]);
            if (bad < 0)
                goodTexts << texts.last();
        }
        const QStringList paths = fillList(texts);
        QFile::remove(paths[badAt.last()]); // and one is missing
        chooseOption(mode.constData());
        clickSkipBadFiles();
        QVERIFY(programSettings().value("SkipBadFiles").toString() == "1");

        ModalAnswerer answerer;
        answerer.answerMessage(QMessageBox::Ok);
        clickStartJoiningAndWait(m_window.get());
        QVERIFY(answerer.allAnswered());
        const QString joined = m_window->resultsWindow().resultsText();
        clickToolButton(&m_window->resultsWindow(), "backAction");

        const QStringList lines = answerer.texts().first().split('\n');
        QCOMPARE(lines[0], QStringLiteral("%1 files could not be joined and were left out:").arg(badAt.size()));
        QCOMPARE(lines.size(), 2 + qMin(badAt.size(), 10) + (badAt.size() > 10 ? 1 : 0));
        if (badAt.size() > 10)
            QCOMPARE(lines.last(), QStringLiteral("and %1 more").arg(badAt.size() - 10));
        for (int i = 0; i < inputs; ++i) {
            const bool bad = badAt.contains(i);
            QCOMPARE(list().itemMark(i + 1), bad ? ItemMark::Problem : ItemMark::Fine);
            QVERIFY2(list().itemStatus(i + 1).startsWith(paths[i] + ": ") == bad, qPrintable(list().itemStatus(i + 1)));
        }
        QCOMPARE(list().itemStatus(badAt.last() + 1),
                 paths[badAt.last()] + ": cannot be read: No such file or directory");
        QCOMPARE(lines[2], list().itemStatus(badAt[0] + 1));

        // The same join of the good inputs alone.
        list().removeAllItems();
        fillList(goodTexts);
        clickStartJoiningAndWait(m_window.get());
        QCOMPARE(m_window->resultsWindow().resultsText(), joined);
    }

    // Off, nothing changes: the first bad input stops the Merge as before.
    void withoutSkippingABadFileStillStopsTheMerge() {
        fillList({kFine, "<s><a/><b/></s>", kFine});
        ModalAnswerer answerer;
        answerer.answerMessage(QMessageBox::Ok);
        clickStartJoiningAndWait(m_window.get());
        QVERIFY(answerer.allAnswered());
        QCOMPARE(answerer.texts(), QStringList{"XML files do not have same structure, join aborted."});
        QCOMPARE(marks(), (QList<ItemMark>{ItemMark::None, ItemMark::Problem, ItemMark::None}));
    }

private:
    QStringList fillList(const QList<QByteArray>& texts) {
        QStringList paths;
        for (const QByteArray& text : texts) {
            const QString path = m_folders.filePath(QStringLiteral("input%1.xml").arg(++m_inputCount));
            writeFile(path, text);
            list().appendItem(path);
            paths << path;
        }
        return paths;
    }

    void checkFiles() {
        ModalAnswerer answerer;
        answerer.answerMessage(QMessageBox::Ok);
        chooseCheckFilesAndWait();
        QVERIFY(answerer.allAnswered());
    }

    // The check runs on threads of its own: its marks and its box come once it has ended.
    void chooseCheckFilesAndWait() {
        chooseMenuItem(m_window.get(), menu::file, menu::checkFiles);
        QVERIFY2(QTest::qWaitFor([this] { return !m_window->isJoining(); }, 60000), "the check did not end");
    }

    void clickSkipBadFiles() {
        clickTab(m_window.get(), 1);
        auto* box = m_window->findChild<QCheckBox*>(QStringLiteral("SkipBadFiles"));
        QVERIFY(box && box->isVisible());
        QCOMPARE(box->text(), QStringLiteral("Skip files that cannot be joined"));
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
        QVERIFY(box->isChecked());
        clickTab(m_window.get(), 0);
    }

    void chooseMode(bool append) { chooseOption(append ? "Option1" : "Option2"); }

    void chooseOption(const char* button) {
        clickTab(m_window.get(), 1);
        QTest::mouseClick(optionButton(m_window.get(), button), Qt::LeftButton);
        clickTab(m_window.get(), 0);
    }

    FileListView& list() const { return m_window->fileList(); }
    QProgressBar* progressBar() const { return m_window->findChild<QProgressBar*>(QStringLiteral("ProgressBar1")); }

    QList<ItemMark> marks() const {
        QList<ItemMark> found;
        for (int index = 1; index <= list().itemCount(); ++index)
            found << list().itemMark(index);
        return found;
    }

    QStringList statuses() const {
        QStringList found;
        for (int index = 1; index <= list().itemCount(); ++index)
            found << list().itemStatus(index);
        return found;
    }

    QList<int> selectedRows() const {
        QList<int> rows;
        for (int row = 0; row < list().topLevelItemCount(); ++row)
            if (list().topLevelItem(row)->isSelected())
                rows << row;
        return rows;
    }

    TestFolders m_folders;
    std::unique_ptr<MainWindow> m_window;
    int m_inputCount = 0;
};

QTEST_MAIN(TestCheckFiles)
#include "tst_checkfiles.moc"
