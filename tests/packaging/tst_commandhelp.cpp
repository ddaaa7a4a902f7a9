#include "engine/buildconfig.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Run {
    int status = -1;
    QByteArray out;
    QByteArray err;
};

/// Runs one of the built programs where no display can be reached: asking for help or the version needs none.
Run runProgram(const QString& program, const QStringList& arguments) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("no-such-platform"));
    process.setProcessEnvironment(environment);
    process.start(QCoreApplication::applicationDirPath() + QLatin1Char('/') + program, arguments);
    process.closeWriteChannel();
    Run run;
    if (!process.waitForFinished(60000))
        return run;
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

QString helpText(const QString& program) {
    const Run run = runProgram(program, {QStringLiteral("--help")});
    if (run.status != 0 || !run.err.isEmpty())
        qWarning("%s --help failed: %s", qPrintable(program), run.err.constData());
    return QString::fromUtf8(run.out);
}

/// The options --help lists, each as "--name" or "-x VALUE".
QStringList helpOptions(const QString& help) {
    static const QRegularExpression option(QStringLiteral("^  (--?[a-z][a-z-]*(?: [A-Z]+)?)  "),
                                           QRegularExpression::MultilineOption);
    QStringList options;
    for (const QRegularExpressionMatch& match : option.globalMatch(help))
        options += match.captured(1);
    return options;
}

QString usageLine(const QString& help) {
    const QString first = help.section(QLatin1Char('\n'), 0, 0);
    return first.startsWith(QLatin1String("Usage: ")) ? first.mid(7) : QString();
}

QString pageSource(const QString& program) {
    QFile file(QStringLiteral(CORVANTA_PACKAGING_DIR "/man/%1.1.scd").arg(program));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

/// The lines of one "# NAME" section of a page source.
QStringList pageSection(const QString& source, const QString& name) {
    const QStringList lines = source.split(QLatin1Char('\n'));
    const qsizetype start = lines.indexOf(QStringLiteral("# ") + name);
    if (start < 0)
        return {};
    QStringList section;
    for (qsizetype i = start + 1; i < lines.size() && !lines[i].startsWith(QLatin1String("# ")); ++i)
        section += lines[i];
    return section;
}

/// A page line without its bold and underline marks.
QString plain(QString line) {
    return line.remove(QLatin1Char('*')).remove(QLatin1Char('_'));
}

/// The options a page describes: the terms of its OPTIONS list ("*--name*" or "*-x* _VALUE_").
QStringList pageOptions(const QString& source) {
    static const QRegularExpression term(QStringLiteral("^\\*--?[a-z][a-z-]*\\*(?: _[A-Z]+_)?$"));
    QStringList options;
    for (const QString& line : pageSection(source, QStringLiteral("OPTIONS")))
        if (term.match(line).hasMatch())
            options += plain(line);
    return options;
}

QStringList optionNames(const QStringList& options) {
    QStringList names;
    for (const QString& option : options)
        names += option.section(QLatin1Char(' '), 0, 0);
    return names;
}

} // namespace

/// The programs' help and version, their manual pages and the bash completion tell the same story.
class TestCommandHelp : public QObject {
    Q_OBJECT

private slots:
    void manPageDescribesTheOptionsOfHelp_data() { addProgramRows(); }
    void manPageDescribesTheOptionsOfHelp() {
        QFETCH(QString, program);
        const QStringList fromHelp = helpOptions(helpText(program));
        QVERIFY(fromHelp.contains(QStringLiteral("--help")));
        QVERIFY(fromHelp.contains(QStringLiteral("--version")));
        QCOMPARE(pageOptions(pageSource(program)), fromHelp);
    }

    void manPageSynopsisIsTheUsageLine_data() { addProgramRows(); }
    void manPageSynopsisIsTheUsageLine() {
        QFETCH(QString, program);
        const QString usage = usageLine(helpText(program));
        QVERIFY(usage.startsWith(program + QLatin1Char(' ')));
        QStringList synopsis = pageSection(pageSource(program), QStringLiteral("SYNOPSIS"));
        synopsis.removeAll(QString());
        QCOMPARE(synopsis.size(), 1);
        QCOMPARE(plain(synopsis.first()), usage);
    }

    void versionComesFromTheBuildWithoutADisplay_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("corvanta") << "corvanta" << QStringList{"--version"};
        QTest::newRow("corvanta after Qt's options")
            << "corvanta" << QStringList{"-platform", "offscreen", "-reverse", "--version"};
        QTest::newRow("corvanta-join") << "corvanta-join" << QStringList{"--version"};
    }

    void versionComesFromTheBuildWithoutADisplay() {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        const Run run = runProgram(program, arguments);
        QCOMPARE(run.status, 0);
        QCOMPARE(QString::fromUtf8(run.out), program + QStringLiteral(" " CORVANTA_VERSION "\n"));
        QCOMPARE(run.err, QByteArray());
    }

    void manPagesCarryTheBuildVersion_data() { addProgramRows(); }
    void manPagesCarryTheBuildVersion() {
        QFETCH(QString, program);
        // The version is filled in when the page is made; a page naming a number of its own would go stale.
        const QString header = pageSource(program).section(QLatin1Char('\n'), 0, 0);
        QCOMPARE(header, program + QStringLiteral("(1) \"Corvanta @PROJECT_VERSION@\" \"User Commands\""));
    }

    void bashCompletionOffersTheOptionsOfHelp() {
        QStringList offered = complete({"corvanta-join", "-"});
        QStringList listed = optionNames(helpOptions(helpText(QStringLiteral("corvanta-join"))));
        offered.sort();
        listed.sort();
        QCOMPARE(offered, listed);
    }

    void bashCompletionCompletes_data() {
        QTest::addColumn<QStringList>("words");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("an option") << QStringList{"corvanta-join", "--ap"} << QStringList{"--append"};
        QTest::newRow("an input") << QStringList{"corvanta-join", "--merge", ""}
                                  << QStringList{"-dash.xml", "a b.xml", "folder"};
        QTest::newRow("a named input") << QStringList{"corvanta-join", "a"} << QStringList{"a b.xml"};
        QTest::newRow("the output file, even with a dash")
            << QStringList{"corvanta-join", "-o", "-"} << QStringList{"-dash.xml"};
        QTest::newRow("the root name after --wrap is the user's own")
            << QStringList{"corvanta-join", "--append", "--wrap", ""} << QStringList{};
        QTest::newRow("names after --") << QStringList{"corvanta-join", "--", "-"} << QStringList{"-dash.xml"};
        QTest::newRow("nothing that matches") << QStringList{"corvanta-join", "--x"} << QStringList{};
    }

    void bashCompletionCompletes() {
        QFETCH(QStringList, words);
        QFETCH(QStringList, expected);
        QStringList offered = complete(words);
        offered.sort();
        QCOMPARE(offered, expected);
    }

private:
    static void addProgramRows() {
        QTest::addColumn<QString>("program");
        QTest::newRow("corvanta") << "corvanta";
        QTest::newRow("corvanta-join") << "corvanta-join";
    }

    /// What the completion offers for the last of \a words, in a folder holding a few files and a folder.
    static QStringList complete(const QStringList& words) {
        QTemporaryDir folder;
        if (!folder.isValid())
            return {QStringLiteral("no temporary folder")};
        for (const char* name : {"a b.xml", "-dash.xml"}) {
            QFile file(folder.filePath(QString::fromUtf8(name)));
            if (!file.open(QIODevice::WriteOnly))
                return {QStringLiteral("cannot write ") + file.fileName()};
        }
        QDir(folder.path()).mkdir(QStringLiteral("folder"));

        const QString script = QStringLiteral(
            "source \"$1\"; shift; COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); COMPREPLY=(); _corvanta_join; "
            "printf '%s\\n' \"${COMPREPLY[@]}\"");
        QProcess bash;
        bash.setWorkingDirectory(folder.path());
        bash.start(QStringLiteral("bash"),
                   QStringList{"-c", script, "bash", QStringLiteral(CORVANTA_PACKAGING_DIR "/corvanta-join.bash")} +
                       words);
        if (!bash.waitForFinished(60000) || bash.exitCode() != 0)
            return {QStringLiteral("bash failed: ") + QString::fromUtf8(bash.readAllStandardError())};
        return QString::fromUtf8(bash.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
};

QTEST_GUILESS_MAIN(TestCommandHelp)
#include "tst_commandhelp.moc"
