#include "engine/files/folderscan.h"
#include "engine/text/filepath.h"
#include "tests/support/testfiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <fcntl.h>
#include <memory>
#include <stop_token>
#include <sys/stat.h>
#include <unistd.h>

using namespace corvanta;

class TestFolderScan : public QObject {
    Q_OBJECT

private slots:
    void init() { m_folders.renew(); }

    // Entries are relative to the scanned folder R: "dir/" makes a folder, "name -> target" a symbolic link to
    // target (relative to R), "name |" a named pipe, anything else a file. Expected paths are relative to R too.
    void scans_data() {
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QStringList>("addFolder");
        QTest::addColumn<QStringList>("drop");

        QTest::newRow("level by level, not depth first")
            << QStringList{"a.xml", "~b.xml", "S1/T/x.xml", "S2/y.xml"}
            << QStringList{"a.xml", "S2/y.xml", "S1/T/x.xml"} << QStringList{"a.xml", "S2/y.xml", "S1/T/x.xml"};
        QTest::newRow("deep folder after shallow one")
            << QStringList{"1/2/3/deep.xml", "z/shallow.xml"} << QStringList{"z/shallow.xml", "1/2/3/deep.xml"}
            << QStringList{"z/shallow.xml", "1/2/3/deep.xml"};
        QTest::newRow("drop takes every file") << QStringList{"a.xml", "b.txt", "~c.xml", "sub/d.json"}
                                               << QStringList{"a.xml"} << QStringList{"a.xml", "b.txt", "sub/d.json"};
        QTest::newRow("hidden folders not entered, hidden files listed")
            << QStringList{".hid/x.xml", ".h.xml", "v/.w.xml", "v/.in/z.xml"} << QStringList{".h.xml", "v/.w.xml"}
            << QStringList{".h.xml", "v/.w.xml"};
        QTest::newRow("tilde only counts first in a file name")
            << QStringList{"~c.xml", "b~c.xml", "~sub/e.xml"} << QStringList{"b~c.xml", "~sub/e.xml"}
            << QStringList{"b~c.xml", "~sub/e.xml"};
        QTest::newRow("question marks are ordinary in names")
            << QStringList{"a?b/x.xml", "a?b/deep/y.xml", "ok/z.xml", "q?.xml"}
            << QStringList{"q?.xml", "a?b/x.xml", "ok/z.xml", "a?b/deep/y.xml"}
            << QStringList{"q?.xml", "a?b/x.xml", "ok/z.xml", "a?b/deep/y.xml"};
        QTest::newRow("pattern ignores case")
            << QStringList{"A.XML", "b.Xml", "c.xmlx", "d.txt", "xml", "e.xml.bak"} << QStringList{"A.XML", "b.Xml"}
            << QStringList{"A.XML", "b.Xml", "c.xmlx", "d.txt", "e.xml.bak", "xml"};
        QTest::newRow("names in natural order: case-insensitive, numbers by value")
            << QStringList{"Beta.xml", "Item3.xml", "alpha.xml", "item10.xml", "item2.xml"}
            << QStringList{"alpha.xml", "Beta.xml", "item2.xml", "Item3.xml", "item10.xml"}
            << QStringList{"alpha.xml", "Beta.xml", "item2.xml", "Item3.xml", "item10.xml"};
        QTest::newRow("folders in natural order, names equal but for case by code unit")
            << QStringList{"b.xml", "B.xml", "s/v10/a.xml", "s/V9/z.xml", "s/a/a.xml", "s/Z/z.xml"}
            << QStringList{"B.xml", "b.xml", "s/a/a.xml", "s/V9/z.xml", "s/v10/a.xml", "s/Z/z.xml"}
            << QStringList{"B.xml", "b.xml", "s/a/a.xml", "s/V9/z.xml", "s/v10/a.xml", "s/Z/z.xml"};
        QTest::newRow("folder named like a file is entered, not listed")
            << QStringList{"f.xml/inner.xml"} << QStringList{"f.xml/inner.xml"} << QStringList{"f.xml/inner.xml"};
        QTest::newRow("empty folders") << QStringList{"e/", "e/f/"} << QStringList{} << QStringList{};
        QTest::newRow("linked file listed, broken links left out")
            << QStringList{"real/r.xml", "lnk.xml -> real/r.xml", "gone -> nowhere", "gone.xml -> nowhere.xml"}
            << QStringList{"lnk.xml", "real/r.xml"} << QStringList{"lnk.xml", "real/r.xml"};
        QTest::newRow("named pipe left out")
            << QStringList{"p.xml |", "q |", "a.xml"} << QStringList{"a.xml"} << QStringList{"a.xml"};
        QTest::newRow("link cycle back to the top")
            << QStringList{"top.xml", "a/x.xml", "a/up -> ."} << QStringList{"top.xml", "a/x.xml"}
            << QStringList{"top.xml", "a/x.xml"};
        QTest::newRow("folder linked to itself")
            << QStringList{"a/b/x.xml", "a/b/self -> a/b"} << QStringList{"a/b/x.xml"} << QStringList{"a/b/x.xml"};
        QTest::newRow("two links to one folder outside")
            << QStringList{"L1 -> ../T", "L2 -> ../T", "../T/t.xml", "../T/sub/s.xml"}
            << QStringList{"L1/t.xml", "L1/sub/s.xml"} << QStringList{"L1/t.xml", "L1/sub/s.xml"};
        QTest::newRow("link out of the tree and back in")
            << QStringList{"a/x.xml", "a/out -> ..", "../o.xml"} << QStringList{"a/x.xml", "a/out/o.xml"}
            << QStringList{"a/x.xml", "a/out/o.xml"};
        QTest::newRow("a folder and a link to it")
            << QStringList{"real/r.xml", "zlink -> real", "alink2/s.xml", "alink2/in -> real"}
            << QStringList{"alink2/s.xml", "real/r.xml"} << QStringList{"alink2/s.xml", "real/r.xml"};
    }

    void scans() {
        QFETCH(QStringList, entries);
        QFETCH(QStringList, addFolder);
        QFETCH(QStringList, drop);
        makeTree(entries);

        QCOMPARE(relative(scanFolderForXmlFiles(root())), addFolder);
        QCOMPARE(relative(collect(&scanFolderForXmlFiles, root())), addFolder);
        QCOMPARE(relative(collect(&scanDroppedFolder, root())), drop);
    }

    // The root "/" ends in a separator as this folder does: Add Folder writes it once, a drop keeps it doubled.
    void folderEndingInSeparator() {
        makeTree({"a.xml", "S/b.xml"});
        const QString top = root() + '/';
        QCOMPARE(scanFolderForXmlFiles(top), (QStringList{root() + "/a.xml", root() + "/S/b.xml"}));
        QCOMPARE(collect(&scanDroppedFolder, top), (QStringList{root() + "//a.xml", root() + "//S/b.xml"}));
    }

    void nothingFoundOutsideAFolder_data() {
        QTest::addColumn<QString>("folder");
        QTest::newRow("empty text") << QString();
        QTest::newRow("missing") << QStringLiteral("missing");
        QTest::newRow("file") << QStringLiteral("a.xml");
        QTest::newRow("broken link") << QStringLiteral("gone");
    }

    void nothingFoundOutsideAFolder() {
        QFETCH(QString, folder);
        makeTree({"a.xml", "gone -> nowhere"});
        const QString path = folder.isEmpty() ? folder : m_folders.filePath("R/" + folder);
        QCOMPARE(scanFolderForXmlFiles(path), QStringList());
        QCOMPARE(collect(&scanDroppedFolder, path), QStringList());
    }

    // A stop asked for while a folder's files are handed on ends the scan there: no later folder is listed or handed
    // on, whichever scan it is.
    void aStopEndsTheScanAfterTheFolderAtHand_data() {
        QTest::addColumn<bool>("drop");
        QTest::addColumn<int>("stopAfter"); // batches handed on before the stop; -1 stops before the scan starts
        QTest::addColumn<QStringList>("expected");
        for (const bool drop : {false, true}) {
            const char* scan = drop ? "drop" : "Add Folder";
            QTest::addRow("%s, stopped before it starts", scan) << drop << -1 << QStringList();
            QTest::addRow("%s, stopped at the top folder", scan) << drop << 1 << QStringList{"a.xml"};
            QTest::addRow("%s, stopped a level down", scan) << drop << 2 << QStringList{"a.xml", "S2/y.xml"};
            QTest::addRow("%s, never stopped", scan) << drop << 9 << QStringList{"a.xml", "S2/y.xml", "S1/T/x.xml"};
        }
    }

    void aStopEndsTheScanAfterTheFolderAtHand() {
        QFETCH(bool, drop);
        QFETCH(int, stopAfter);
        QFETCH(QStringList, expected);
        makeTree({"a.xml", "S1/T/x.xml", "S2/y.xml", "S1/T/U/V/"});
        std::stop_source stop;
        if (stopAfter < 0)
            stop.request_stop();
        QStringList found;
        int batches = 0;
        const FoundFiles take = [&](const QStringList& paths) {
            found += relative(paths);
            if (++batches == stopAfter)
                stop.request_stop();
        };

        drop ? scanDroppedFolder(root(), stop.get_token(), take)
             : scanFolderForXmlFiles(root(), stop.get_token(), take);

        QCOMPARE(found, expected);
    }

    void subfoldersComeLevelByLevel_data() {
        QTest::addColumn<QStringList>("folders");
        QTest::addColumn<bool>("recurse");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("all levels") << QStringList{""} << true
                                    << QStringList{"", "q?/", "S1/", "S2/", "q?/r/", "S1/T/", "S2/V/", "S1/T/U/"};
        QTest::newRow("one level") << QStringList{""} << false << QStringList{"", "q?/", "S1/", "S2/"};
        QTest::newRow("grouped by parent in collection order")
            << QStringList{"S2/", "S1/"} << true << QStringList{"S2/", "S1/", "S2/V/", "S1/T/", "S1/T/U/"};
        QTest::newRow("a folder given twice is walked once")
            << QStringList{"S1/", "S1/"} << true << QStringList{"S1/", "S1/", "S1/T/", "S1/T/U/"};
    }

    void subfoldersComeLevelByLevel() {
        QFETCH(QStringList, folders);
        QFETCH(bool, recurse);
        QFETCH(QStringList, expected);
        makeTree({"a.xml", "S1/T/U/", "S2/V/", ".h/z/", "q?/r/", "S1/T/back -> S1"});
        for (QString& folder : folders)
            folder.prepend(root() + '/');

        collectSubfolders(folders, recurse);

        QCOMPARE(relative(folders), expected);
    }

    void listedFilesMatchWithoutRegardToCase() {
        QStringList many;
        for (int i = 1; i <= 120; ++i)
            many += QStringLiteral("f%1.xml").arg(i, 3, 10, QLatin1Char('0'));
        makeTree(many + QStringList{".h.xml", "~t.xml", "dir.xml/", "B.TXT"});

        QCOMPARE(listFiles(root(), "*.xml"), (QStringList{".h.xml", "~t.xml"} + many));
        QCOMPARE(listFiles(root(), "*.TXT"), QStringList{"B.TXT"});
        QCOMPARE(listFiles(root(), "*.json"), QStringList());
        QCOMPARE(listFiles(m_folders.filePath("missing"), "*"), QStringList());
    }

    // A name that is not valid UTF-8 is scanned as the bytes it is, and so is everything below it: the joiner opens
    // those files and shows their names with the bytes escaped.
    void namesNotValidUtf8AreScannedAsTheirBytes() {
        makeTree({"ok.xml", "sub/in.xml", "odd \u00e9 ?*|\\ name/o.xml"});
        const QByteArray top = QFile::encodeName(root());
        if (::mkdir(top + "/bad\xff", 0700) != 0)
            QSKIP("this file system refuses names that are not UTF-8");
        // QTemporaryDir cannot name them either, so they go by their bytes at the end.
        const auto removeRaw = qScopeGuard([top] {
            for (const char* file : {"/bad\xff/hidden.xml", "/x\xfe.xml", "/sub/y\xff.txt"})
                ::unlink(top + file);
            ::rmdir(top + "/bad\xff");
        });
        writeRawFile(top + "/bad\xff/hidden.xml");
        writeRawFile(top + "/x\xfe.xml");
        writeRawFile(top + "/sub/y\xff.txt");

        const QString x = pathFromNative("x\xfe.xml"), bad = pathFromNative("bad\xff");
        QCOMPARE(relative(scanFolderForXmlFiles(root())),
                 (QStringList{"ok.xml", x, bad + "/hidden.xml", "odd \u00e9 ?*|\\ name/o.xml", "sub/in.xml"}));
        QCOMPARE(relative(collect(&scanDroppedFolder, root())),
                 (QStringList{"ok.xml", x, bad + "/hidden.xml", "odd \u00e9 ?*|\\ name/o.xml", "sub/in.xml",
                              pathFromNative("sub/y\xff.txt")}));
        QCOMPARE(listFiles(root(), "*"), (QStringList{"ok.xml", x}));
        // The names go back to the very bytes they came from.
        QCOMPARE(nativePath(scanFolderForXmlFiles(root()).at(2)), top + "/bad\xff/hidden.xml");

        QProcess join;
        join.setWorkingDirectory(m_folders.path());
        join.start(QCoreApplication::applicationDirPath() + "/corvanta-join", {"--append", "R"});
        QVERIFY2(join.waitForFinished(30000), qPrintable(join.errorString()));
        QCOMPARE(join.readAllStandardError(), QByteArray());
        QCOMPARE(join.readAllStandardOutput(), QByteArray("<r/><r/><r/><r/><r/>"));
        QCOMPARE(join.exitCode(), 0);
        join.start(QCoreApplication::applicationDirPath() + "/corvanta-join", {"--check", "R"});
        QVERIFY2(join.waitForFinished(30000), qPrintable(join.errorString()));
        const QByteArray lines = join.readAllStandardOutput();
        QVERIFY2(lines.contains("\n$'R/x\\xfe.xml': ok (root r, 0 top-level nodes)\n"), lines.constData());
        QVERIFY2(lines.contains("\n$'R/bad\\xff/hidden.xml': ok (root r, 0 top-level nodes)\n"), lines.constData());
    }

    void isDroppedFolder_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("folder");
        QTest::newRow("folder") << "d" << true;
        QTest::newRow("folder with separator") << "d/" << true;
        QTest::newRow("link to folder") << "ln" << true;
        QTest::newRow("file") << "f.xml" << false;
        QTest::newRow("hidden folder") << ".h" << false;
        QTest::newRow("hidden folder with separator") << ".h/" << false;
        QTest::newRow("missing") << "m" << false;
    }

    void isDroppedFolder() {
        QFETCH(QString, path);
        QFETCH(bool, folder);
        makeTree({"d/a.xml", ".h/b.xml", "f.xml", "ln -> d"});
        QCOMPARE(corvanta::isDroppedFolder(root() + '/' + path), folder);
    }

    // Many paths in one folder are told apart by its listing: every kind of entry must come out as a look at it
    // alone says.
    void areFoldersAnswersAsIsFolder() {
        makeTree({"d/a.xml", "ln -> d", "lf -> f0.xml", "p |"});
        QStringList paths{"d", "d/", "ln", "lf", "p", "missing", ".", "d/..", root(), root() + "/d"};
        for (int i = 0; i < 20; ++i) {
            writeFile(root() + QStringLiteral("/f%1.xml").arg(i), "<r/>");
            paths << QStringLiteral("f%1.xml").arg(i) << root() + QStringLiteral("/f%1.xml").arg(i);
        }
        const QString before = QDir::currentPath();
        const auto back = qScopeGuard([&] { QDir::setCurrent(before); });
        QVERIFY(QDir::setCurrent(root())); // "d" and "f0.xml" lie in ".", the longer paths in R

        const std::vector<bool> folders = areFolders(paths);

        for (qsizetype i = 0; i < paths.size(); ++i)
            QVERIFY2(folders.at(size_t(i)) == isFolder(paths.at(i)), qPrintable(paths.at(i)));
        QCOMPARE(std::count(folders.begin(), folders.end(), true), 7);
    }

    // Folders of the walk may be deleted while it runs; the walk goes on without them.
    void vanishingFoldersAreSkipped_data() {
        QTest::addColumn<QString>("victim");
        QTest::addColumn<bool>("whenFirstFilesArrive"); // of S1; else when the top folder's files arrive
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("removed before its parent is listed")
            << "S2" << false << QStringList{"a.xml", "S1/x.xml", "S1/deep/d.xml"};
        QTest::newRow("queued, then removed") << "S2" << true << QStringList{"a.xml", "S1/x.xml", "S1/deep/d.xml"};
        QTest::newRow("top removed after its files") << "" << false << QStringList{"a.xml"};
        QTest::newRow("folder a level down removed while queued")
            << "S1/deep" << true << QStringList{"a.xml", "S1/x.xml", "S2/y.xml", "S2/deep/z.xml"};
    }

    void vanishingFoldersAreSkipped() {
        QFETCH(QString, victim);
        QFETCH(bool, whenFirstFilesArrive);
        QFETCH(QStringList, expected);
        makeTree({"a.xml", "S1/x.xml", "S1/deep/d.xml", "S2/y.xml", "S2/deep/z.xml"});
        bool removed = false;
        const auto remove = [&] {
            if (!std::exchange(removed, true))
                QVERIFY(QDir(root() + '/' + victim).removeRecursively());
        };

        QStringList found;
        scanFolderForXmlFiles(root(), {}, [&](const QStringList& paths) {
            found += paths;
            if (!whenFirstFilesArrive || paths.first().contains("/S1/"))
                remove();
        });

        QVERIFY(removed);
        QCOMPARE(relative(found), expected);
    }

    void commandLineJoinsFolders_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<QByteArray>("errors");
        QTest::addColumn<int>("status");
        QTest::newRow("folder in Add Folder order")
            << QStringList{"--append", "R"} << QByteArray("<a/><y/><x/>") << QByteArray() << 0;
        QTest::newRow("folder with trailing separator")
            << QStringList{"--append", "R/"} << QByteArray("<a/><y/><x/>") << QByteArray() << 0;
        QTest::newRow("files and folders in the order given")
            << QStringList{"--append", "R/S2/y.xml", "R/S1", "R/a.xml"} << QByteArray("<y/><x/><a/>") << QByteArray()
            << 0;
        QTest::newRow("files of a folder in natural order")
            << QStringList{"--append", "N"} << QByteArray("<2/><3/><10/>") << QByteArray() << 0;
        QTest::newRow("folder without XML files")
            << QStringList{"--append", "E"} << QByteArray() << QByteArray("No files added.\n") << 1;
    }

    void commandLineJoinsFolders() {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, output);
        QFETCH(QByteArray, errors);
        QFETCH(int, status);
        makeTree({"S2/n.txt", "../E/e.txt"});
        writeFile(root() + "/a.xml", "<a/>");
        writeFile(root() + "/~b.xml", "<b/>");
        writeFile(root() + "/S1/T/x.xml", "<x/>");
        writeFile(root() + "/S2/y.xml", "<y/>");
        writeFile(m_folders.filePath("N/item10.xml"), "<10/>");
        writeFile(m_folders.filePath("N/Item3.xml"), "<3/>");
        writeFile(m_folders.filePath("N/item2.xml"), "<2/>");

        QProcess join;
        join.setWorkingDirectory(m_folders.path());
        join.start(QCoreApplication::applicationDirPath() + "/corvanta-join", arguments);
        QVERIFY2(join.waitForFinished(30000), qPrintable(join.errorString()));

        QCOMPARE(join.readAllStandardError(), errors);
        QCOMPARE(join.readAllStandardOutput(), output);
        QCOMPARE(join.exitCode(), status);
    }

private:
    QString root() const { return m_folders.filePath("R"); }

    void makeTree(const QStringList& entries) {
        QVERIFY(QDir().mkpath(root()));
        for (const QString& entry : entries) {
            const QStringList link = entry.split(" -> ");
            const QString path = QDir::cleanPath(root() + '/' + link.first());
            if (link.size() == 2) {
                QVERIFY(QDir().mkpath(QFileInfo(path).path()));
                QVERIFY(QFile::link(QDir::cleanPath(root() + '/' + link.last()), path));
            } else if (entry.endsWith(" |")) {
                QVERIFY(::mkfifo(QFile::encodeName(path.chopped(2)).constData(), 0600) == 0);
            } else if (entry.endsWith('/')) {
                QVERIFY(QDir().mkpath(path));
            } else {
                writeFile(path, "<r/>");
            }
        }
    }

    // A file whose name is given as bytes, as QFile cannot name every file.
    static void writeRawFile(const QByteArray& path) {
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, "<r/>", 4), ssize_t(4));
        ::close(fd);
    }

    /// Paths below R relative to it.
    QStringList relative(QStringList paths) const {
        for (QString& path : paths)
            if (path.startsWith(root() + '/'))
                path.remove(0, root().size() + 1);
        return paths;
    }

    using Scan = void (*)(const QString&, const std::stop_token&, const FoundFiles&);
    static QStringList collect(Scan scan, const QString& folder) {
        QStringList paths;
        scan(folder, {}, [&](const QStringList& found) {
            QVERIFY(!found.isEmpty());
            paths += found;
        });
        return paths;
    }

    TestFolders m_folders{TestFolders::Temp::Unchanged};
};

QTEST_GUILESS_MAIN(TestFolderScan)
#include "tst_folderscan.moc"
