// Lists kept in files (Open List, Save List) and files given to the program at start, through the real window.
#include "engine/files/pathlist.h"
#include "engine/text/filepath.h"
#include "filelist/filelistview.h"
#include "shell/mainwindow.h"
#include "shell/menunames.h"
#include "tests/shell/windowdriver.h"
#include "tests/support/modalhelper.h"
#include "tests/support/testfiles.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QStandardPaths>
#include <QTest>
#include <memory>

using namespace corvanta;

class TestListFiles : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() { startOnFirstRun(m_folders, m_window); }
    void cleanup() { m_window.reset(); }

    // A list saved today opens tomorrow with the same files, whatever their names; one gone since is named once.
    void savedListOpensAgain_data() {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("gone");
        QTest::newRow("non-ASCII names") << QStringList{"één.xml", "ä ö/日本語.xml", "plain.xml"} << QStringList{};
        QTest::newRow("one gone") << QStringList{"Grüße.xml", "b.xml", "ümlaut dir/c.xml"} << QStringList{"b.xml"};
        QTest::newRow("gone with a control character")
            << QStringList{"tab\there.xml", "b.xml"} << QStringList{"tab\there.xml"};
        QTest::newRow("twelve gone") << QStringList{"a.xml", "b.xml", "c.xml", "d.xml", "e.xml", "f.xml", "g.xml",
                                                    "h.xml", "i.xml", "j.xml", "k.xml", "l.xml", "m.xml"}
                                     << QStringList{"a.xml", "b.xml", "c.xml", "d.xml", "e.xml", "f.xml",
                                                    "g.xml", "h.xml", "i.xml", "j.xml", "k.xml", "l.xml"};
    }

    void savedListOpensAgain() {
        QFETCH(QStringList, names);
        QFETCH(QStringList, gone);
        QStringList paths;
        for (const QString& name : names) {
            paths << m_folders.filePath(name);
            writeFile(paths.last(), "<r/>");
            list().appendItem(paths.last());
        }
        const QString listFolder = m_folders.filePath("Listen ß");
        QVERIFY(QDir().mkpath(listFolder));

        ModalAnswerer saving;
        QString saveTitle;
        saving.handleFileDialog([&](QFileDialog* dialog) {
            saveTitle = dialog->windowTitle();
            typeFileNames(dialog, listFolder, {"Wöche.txt"});
            QTest::keyClick(fileNameEdit(dialog), Qt::Key_Return);
        });
        chooseMenuItem(m_window.get(), menu::file, menu::saveList);
        QVERIFY(saving.allAnswered());
        QCOMPARE(saveTitle, QStringLiteral("Save List"));
        const QString saved = listFolder + "/Wöche.txt";
        QCOMPARE(readFile(saved), pathListText(paths));

        QStringList kept = paths;
        for (const QString& name : gone) {
            QVERIFY(QFile::remove(m_folders.filePath(name)));
            kept.removeOne(m_folders.filePath(name));
        }
        list().removeAllItems();
        list().appendItem("/another/list.xml");

        ModalAnswerer opening;
        opening.answerMessage(QMessageBox::Yes);
        QString startFolder;
        opening.handleFileDialog([&](QFileDialog* dialog) {
            startFolder = dialog->directory().absolutePath();
            fileNameEdit(dialog)->setText("Wöche.txt");
            QTest::keyClick(fileNameEdit(dialog), Qt::Key_Return);
        });
        if (!gone.isEmpty())
            opening.answerMessage(QMessageBox::Ok);
        chooseMenuItem(m_window.get(), menu::file, menu::openList);
        QVERIFY(opening.allAnswered());

        QCOMPARE(startFolder, listFolder); // remembered from the save
        QCOMPARE(list().itemTexts(), kept);
        QCOMPARE(opening.texts().first(), QStringLiteral("Replace the files in the list with those of a saved list?"));
        if (gone.isEmpty())
            return;
        QStringList goneLines;
        for (const QString& name : gone.mid(0, 10))
            goneLines << displayPath(m_folders.filePath(name));
        if (gone.size() > 10)
            goneLines << QStringLiteral("and %1 more").arg(gone.size() - 10);
        const QString first = gone.size() == 1 ? "1 file of the list no longer exists and was left out:"
                                               : QStringLiteral("%1 files of the list no longer exist and were left "
                                                                "out:")
                                                     .arg(gone.size());
        QCOMPARE(opening.texts().last(), first + "\n\n" + goneLines.join('\n'));
    }

    void openListAnsweredNoKeepsTheList() {
        list().appendItem("/kept.xml");
        ModalAnswerer answerer;
        answerer.answerMessage(QMessageBox::No);
        chooseMenuItem(m_window.get(), menu::file, menu::openList);
        QVERIFY(answerer.allAnswered());
        QCOMPARE(answerer.seen().size(), 1); // no file dialog
        QCOMPARE(list().itemTexts(), QStringList{"/kept.xml"});
    }

    // A list written by hand: CR LF, blank lines, paths relative to the list, a folder, as Add Folder adds it.
    void openListTakesListsWrittenElsewhere() {
        writeFile(m_folders.filePath("a.xml"), "<r/>");
        writeFile(m_folders.filePath("dir/2.xml"), "<r/>");
        writeFile(m_folders.filePath("dir/10.xml"), "<r/>");
        writeFile(m_folders.filePath("dir/notes.txt"), "");
        writeFile(m_folders.filePath("lists/l.txt"),
                  "\r\n../a.xml\r\n\r\n" + QFile::encodeName(m_folders.path()) + "/dir\r\n");
        ModalAnswerer answerer;
        answerer.handleFileDialog([&](QFileDialog* dialog) {
            typeFileNames(dialog, m_folders.filePath("lists"), {"l.txt"});
            QTest::keyClick(fileNameEdit(dialog), Qt::Key_Return);
        });
        chooseMenuItem(m_window.get(), menu::file, menu::openList);
        QVERIFY(answerer.allAnswered());
        QCOMPARE(list().itemTexts(), (QStringList{m_folders.filePath("a.xml"), m_folders.filePath("dir/2.xml"),
                                                  m_folders.filePath("dir/10.xml")}));
    }

    // corvanta a.xml folder/: files and folders given at start, as Add Files and Add Folder add them.
    void filesGivenAtStartFillTheList() {
        writeFile(m_folders.filePath("a.xml"), "<r/>");
        writeFile(m_folders.filePath("folder/1.xml"), "<r/>");
        writeFile(m_folders.filePath("folder/sub/2.XML"), "<r/>");
        writeFile(m_folders.filePath("folder/skip.txt"), "");
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_folders.path()));
        DesktopFreeOptions desktopFree;
        MainWindowOptions options = desktopFree.mainWindowOptions();
        options.startPaths = QStringList{"a.xml", "folder/", "missing.xml"};
        m_window.reset();
        m_window = std::make_unique<MainWindow>(options);
        QDir::setCurrent(before);
        // The folders are walked beside the window, as Add Folder walks them.
        QVERIFY(QTest::qWaitFor([this] { return !m_window->isBusy(); }, 20000));
        QCOMPARE(list().itemTexts(), (QStringList{m_folders.filePath("a.xml"), m_folders.filePath("folder/1.xml"),
                                                  m_folders.filePath("folder/sub/2.XML")}));
    }

private:
    FileListView& list() const { return m_window->fileList(); }

    TestFolders m_folders;
    std::unique_ptr<MainWindow> m_window;
};

QTEST_MAIN(TestListFiles)
#include "tst_listfiles.moc"
