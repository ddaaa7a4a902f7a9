#include "cli/clijoin.h"

#include "cli/progressline.h"
#include "engine/buildconfig.h"
#include "engine/files/folderscan.h"
#include "engine/files/pathlist.h"
#include "engine/join/errorreport.h"
#include "engine/join/joincommand.h"
#include "engine/join/joinhost.h"
#include "engine/report/joinreport.h"
#include "engine/text/codepage.h"
#include "engine/text/failure.h"
#include "engine/text/filepath.h"
#include "engine/text/textfile.h"
#include "engine/xml/xmlwrap.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <new>
#include <system_error>
#include <vector>

namespace corvanta {

namespace {

constexpr auto kUsage =
    "Usage: corvanta-join [--append [--wrap NAME] | --merge | --combine [--unique]] [--keep-going] [-o FILE] "
    "[--report FILE] [--files-from FILE [--null]] PATH...\n"
    "       corvanta-join --check [--combine] [--json] [--files-from FILE [--null]] PATH...\n"
    "Joins XML files into one, as Corvanta's Start Joining does, or checks them for a Merge or Combine.\n"
    "\n"
    "  --merge          share second-level nodes of later files with the first (default)\n"
    "  --combine        add the top-level nodes of every later file at the end of the first file's root;\n"
    "                   every root element must have the same name and namespace\n"
    "  --unique         with --combine: leave out a top-level node that is already in the result as it is\n"
    "  --keep-going     with --merge or --combine: leave out every file that cannot be read, does not parse or\n"
    "                   does not match the first usable one, join the rest, and name each left out on standard\n"
    "                   error\n"
    "  --append         append the whole text of every file, one after another\n"
    "  --wrap NAME      with --append: one XML document, every file's root inside a root NAME\n"
    "  -o FILE          write the result to FILE (replaced whole) instead of standard output\n"
    "  --report FILE    after the join, write what each file contributed to FILE as JSON (- for standard error)\n"
    "  --files-from FILE  read more PATHs from FILE (- for standard input), one per line; blank lines are\n"
    "                   ignored; they join where the option stands among the PATHs\n"
    "  --null           with --files-from: the PATHs are separated by NUL bytes (find -print0)\n"
    "  --check          read and parse every file as Merge would and tell for each whether it would stop a\n"
    "                   Merge (with --combine: a Combine); nothing is joined or written\n"
    "  --json           with --check: one JSON document on standard output instead of lines\n"
    "  --help           show this text\n"
    "  --version        show the version\n"
    "\n"
    "A PATH that is a folder adds the XML files of it and of every folder below it.\n"
    "Messages go to standard error. Exit status: 0 when the result was produced without any\n"
    "message (with --check: when the join would go through), 1 when the join stopped, showed a\n"
    "message or left a file out (with --check: when it would stop), 2 for a usage error.\n";

void write(std::FILE* stream, const QByteArray& bytes) {
    std::fwrite(bytes.constData(), 1, bytes.size(), stream);
}

/// Writes \a bytes to \a stream and flushes it; throws Failure naming \a name with the system's reason when a
/// write fails or falls short (a full disk, /dev/full, a closed pipe whose signal is ignored).
void writeChecked(std::FILE* stream, const QByteArray& bytes, const QString& name) {
    errno = 0;
    if (std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream) != size_t(bytes.size()) ||
        std::fflush(stream) != 0) {
        const int error = errno;
        throw Failure(QStringLiteral("%1: %2").arg(
            name, error != 0 ? qt_error_string(error) : QStringLiteral("The output could not be written.")));
    }
}

/// Writes the result to \a path as Save Results would: a regular file (or a new one) is replaced whole once the
/// text is completely written. Anything else that exists there (a device, a named pipe) is written into, as a
/// shell redirection would, and stays what it is. Throws WriteFailure, or Failure when the text cannot be read.
void writeOutputFile(const JoinedText& text, const QString& path) {
    const QFileInfo target(path);
    if (!target.exists() || target.isFile()) {
        text.saveAs(path);
        return;
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw WriteFailure(QStringLiteral("%1: %2").arg(displayPath(path), file.errorString()));
    FileSink sink(file, path);
    text.writeTo(sink);
    file.close();
    if (file.error() != QFileDevice::NoError)
        throw WriteFailure(QStringLiteral("%1: %2").arg(displayPath(path), file.errorString()));
}

/// Writes \a bytes to \a path as writeOutputFile() writes a result. Throws Failure.
void writeOutputFile(const QByteArray& bytes, const QString& path) {
    const QFileInfo target(path);
    if (!target.exists() || target.isFile()) {
        writeFileAtomically(bytes, path);
        return;
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) || !writeWhole(file, bytes))
        throw WriteFailure(QStringLiteral("%1: %2").arg(displayPath(path), file.errorString()));
}

/// Streams the result to \a out. Throws WriteFailure naming it "standard output", or Failure when the text cannot
/// be read.
void writeStandardOutput(const JoinedText& text, std::FILE* out) {
    const QString name = QStringLiteral("standard output");
    if (std::fflush(out) != 0)
        throw WriteFailure(QStringLiteral("%1: %2").arg(name, qt_error_string(errno)));
    QFile file;
    if (!file.open(fileno(out), QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::DontCloseHandle))
        throw WriteFailure(QStringLiteral("%1: %2").arg(name, file.errorString()));
    FileSink sink(file, name);
    text.writeTo(sink);
}

/// The join's host on a console: the list is the command line, boxes become lines on standard error, and on a
/// terminal a long join shows how far it has come.
class ConsoleHost final : public JoinHost {
public:
    ConsoleHost(QStringList inputs, bool append, QString wrapRoot, std::FILE* err, ProgressLine& progress,
                JoinReport* report, bool combine = false, bool unique = false, bool keepGoing = false)
        : m_inputs(std::move(inputs))
        , m_append(append)
        , m_combine(combine)
        , m_unique(unique)
        , m_keepGoing(keepGoing)
        , m_wrapRoot(std::move(wrapRoot))
        , m_err(err)
        , m_progress(&progress)
        , m_report(report) {}

    int itemCount() const override { return int(m_inputs.size()); }
    QString itemText(int index) const override {
        // Both modes ask for input i just before reading it, and Merge mode reports no progress of its own: the
        // request is the one sign of progress common to both.
        if (index >= 1 && index <= itemCount() && m_progress->due())
            m_progress->update(index - 1, itemCount(), sizeOfFirst(index - 1));
        return m_inputs.at(index - 1);
    }
    bool appendSelected() const override { return m_append; }
    bool combineSelected() const override { return m_combine; }
    bool uniqueNodes() const override { return m_unique; }
    QString wrapRootName() const override { return m_wrapRoot; }
    bool skipBadInputs() const override { return m_keepGoing; }
    void setBusyPointer(bool) override {}
    void setProgress(double) override {}
    void showMessage(const QString& text, Icon) override { tell(text); }
    void showErrorReport(const QString& text) override { tell(text); }
    /// One line for each, so that every one can be found with grep.
    void showSkippedInputs(const std::vector<SkippedInput>& skipped) override {
        m_progress->clear();
        m_skipped = !skipped.empty();
        QString lines;
        for (const SkippedInput& input : skipped)
            lines += QStringLiteral("corvanta-join: left out ") + input.statusLine() + QLatin1Char('\n');
        write(m_err, encodeSystemCodePage(lines));
        std::fflush(m_err);
    }
    void setResultsText(const JoinedText& text) override;
    void showResults() override { m_shown = true; }
    void hideMain() override {}
    JoinObserver& joinObserver() override { return m_report ? *m_report : JoinHost::joinObserver(); }

    /// Where the text goes: \a out, or the file \a outputPath when it is not empty.
    void setOutput(std::FILE* out, const QString& outputPath) {
        m_out = out;
        m_outputPath = outputPath;
    }

    bool messageShown() const { return m_messageShown; }
    /// True when the join left inputs out.
    bool skipped() const { return m_skipped; }
    /// True when the join reached its results.
    bool resultProduced() const { return m_shown; }
    /// True when the text was written out whole and the join reached its results.
    bool resultWritten() const { return m_written && m_shown; }
    /// Why the text could not be written out; empty when it could.
    const QString& outputError() const { return m_outputError; }

private:
    /// The sizes of the first \a count inputs added up. Each input is looked at once, and only when the progress line
    /// is drawn: a short join looks at none, where the join itself looks at each as it opens it.
    qint64 sizeOfFirst(int count) const {
        while (m_runningSizes.size() <= size_t(count)) {
            const QFileInfo info(m_inputs.at(qsizetype(m_runningSizes.size()) - 1));
            m_runningSizes.push_back(m_runningSizes.back() + (info.isFile() ? info.size() : 0));
        }
        return m_runningSizes.at(size_t(count));
    }

    void tell(const QString& text) {
        m_progress->clear();
        m_messageShown = true;
        write(m_err, encodeSystemCodePage(QString(displayLines(text) + QLatin1Char('\n'))));
        std::fflush(m_err);
    }

    QStringList m_inputs;
    bool m_append;
    bool m_combine;
    bool m_unique;
    bool m_keepGoing;
    QString m_wrapRoot;
    std::FILE* m_err;
    ProgressLine* m_progress; // a pointer: the list queries are const, the line they advance is not
    // Entry i: the sizes of the first i inputs added up; grown by the list queries, on the join's one thread.
    mutable std::vector<qint64> m_runningSizes{0};
    JoinReport* m_report;
    std::FILE* m_out = nullptr;
    QString m_outputPath;
    bool m_written = false;
    QString m_outputError;
    bool m_shown = false;
    bool m_messageShown = false;
    bool m_skipped = false;
};

void ConsoleHost::setResultsText(const JoinedText& text) {
    // The working file goes right after this step, so the text is streamed out now. A failure to read it is the
    // join's to report (this step's); one to write it is told after the join, as a save's failure is.
    m_progress->clear();
    try {
        if (m_outputPath.isEmpty())
            writeStandardOutput(text, m_out);
        else
            writeOutputFile(text, m_outputPath);
        m_written = true;
    } catch (const WriteFailure& failure) {
        m_outputError = failure.description();
    }
}

int usageError(std::FILE* err, const QString& problem) {
    write(err, encodeSystemCodePage(QString(QStringLiteral("corvanta-join: ") + problem + QLatin1Char('\n'))));
    write(err, kUsage);
    return 2;
}

/// The inputs that \a paths name.
QStringList expandInputs(const QStringList& paths) {
    QStringList inputs;
    inputs.reserve(paths.size());
    const std::vector<bool> folders = areFolders(paths);
    for (qsizetype i = 0; i < paths.size(); ++i) {
        if (folders[size_t(i)]) {
            inputs += scanFolderForXmlFiles(paths.at(i));
            continue;
        }
        inputs += paths.at(i);
    }
    return inputs;
}

/// One source of PATHs, in the order of the command line: a PATH argument, or a list file given with --files-from.
struct PathSource {
    QString text;
    bool list = false;
};

/// The PATH arguments and list files of \a arguments in the order given. QCommandLineParser keeps options and
/// positional arguments apart, so the order is read here: every option that takes a value is passed over with it.
std::vector<PathSource> pathSources(const QStringList& arguments, const QStringList& valueOptions) {
    std::vector<PathSource> sources;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (optionsEnded || argument == QLatin1String("-") || !argument.startsWith(QLatin1Char('-'))) {
            sources.push_back({argument, false});
            continue;
        }
        if (argument == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        QString name = argument.mid(argument.startsWith(QLatin1String("--")) ? 2 : 1);
        const qsizetype equals = name.indexOf(QLatin1Char('='));
        QString value;
        if (equals >= 0) {
            value = name.mid(equals + 1);
            name.truncate(equals);
        } else if (valueOptions.contains(name) && i + 1 < arguments.size()) {
            value = arguments.at(++i);
        }
        if (name == QLatin1String("files-from"))
            sources.push_back({value, true});
    }
    return sources;
}

void tellFailure(std::FILE* err, const Failure& failure) {
    write(err, encodeSystemCodePage(QString(failure.description() + QLatin1Char('\n'))));
}

/// --check: one status line per input as soon as it is known, then the summary; or the JSON document.
int checkOnly(const QStringList& inputs, bool json, CheckFor checkFor, std::FILE* out, std::FILE* err) {
    try {
        const CheckProgress printLine = [out](int, const InputCheck& input) {
            writeChecked(out, encodeSystemCodePage(QString(input.statusLine() + QLatin1Char('\n'))),
                         QStringLiteral("standard output"));
        };
        const ListCheck check = checkInputs(inputs, json ? CheckProgress() : printLine, checkFor);
        writeChecked(out, json ? check.toJson() : encodeSystemCodePage(QString(check.summary() + QLatin1Char('\n'))),
                     QStringLiteral("standard output"));
        return check.mergeable() ? 0 : 1;
    } catch (const Failure& failure) {
        tellFailure(err, failure);
        return 1;
    } catch (const std::bad_alloc&) {
        write(err, "corvanta-join: there was not enough memory to finish the check\n");
        return 1;
    } catch (const std::system_error&) {
        // The workers could not start: no memory for their stacks.
        write(err, "corvanta-join: there was not enough memory to finish the check\n");
        return 1;
    }
}

/// Writes \a report to \a target ("-": \a err) as -o writes the result; false, with the reason on \a err, when
/// it cannot be written.
bool writeReport(const JoinReport& report, const QString& target, std::FILE* err) {
    try {
        if (target == QLatin1String("-"))
            writeChecked(err, report.toJson(), QStringLiteral("standard error"));
        else
            writeOutputFile(report.toJson(), target);
        return true;
    } catch (const Failure& failure) {
        write(err, "corvanta-join: report not written: ");
        tellFailure(err, failure);
        return false;
    }
}

/// Writes \a text to \a out; the exit status: 1, with the reason on \a err, when it cannot be written.
int printText(const QByteArray& text, std::FILE* out, std::FILE* err) {
    try {
        writeChecked(out, text, QStringLiteral("standard output"));
        return 0;
    } catch (const Failure& failure) {
        tellFailure(err, failure);
        return 1;
    }
}

/// Why the report may not be written to \a reportPath: it is one of the \a inputs or the \a outputPath file,
/// whatever the spelling. Empty when it may.
QString reportClash(const QString& reportPath, const QString& outputPath, const QStringList& inputs) {
    if (reportPath.isEmpty() || reportPath == QLatin1String("-"))
        return {};
    if (!outputPath.isEmpty() && isSameFile(reportPath, outputPath))
        return QStringLiteral("--report and -o name the same file, %1").arg(displayPath(reportPath));
    if (const qsizetype input = indexOfSameFile(reportPath, inputs); input >= 0)
        return QStringLiteral("--report names the input %1, which it would overwrite")
            .arg(displayPath(inputs.at(input)));
    return {};
}

int runJoinCommand(const QStringList& arguments, std::FILE* out, std::FILE* err, ProgressTiming progressTiming) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption appendOption(QStringLiteral("append"));
    const QCommandLineOption mergeOption(QStringLiteral("merge"));
    const QCommandLineOption combineOption(QStringLiteral("combine"));
    const QCommandLineOption uniqueOption(QStringLiteral("unique"));
    const QCommandLineOption outputOption(QStringLiteral("o"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption wrapOption(QStringLiteral("wrap"), QString(), QStringLiteral("NAME"));
    const QCommandLineOption reportOption(QStringLiteral("report"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption checkOption(QStringLiteral("check"));
    const QCommandLineOption jsonOption(QStringLiteral("json"));
    const QCommandLineOption filesFromOption(QStringLiteral("files-from"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption nullOption(QStringLiteral("null"));
    const QCommandLineOption keepGoingOption(QStringLiteral("keep-going"));
    const QCommandLineOption helpOption(QStringLiteral("help"));
    const QCommandLineOption versionOption(QStringLiteral("version"));
    parser.addOptions({appendOption, mergeOption, combineOption, uniqueOption, wrapOption, outputOption, reportOption,
                       checkOption, jsonOption, filesFromOption, nullOption, keepGoingOption, helpOption,
                       versionOption});

    if (!parser.parse(QStringList{QStringLiteral("corvanta-join")} + arguments))
        return usageError(err, parser.errorText());
    if (parser.isSet(helpOption))
        return printText(kUsage, out, err);
    if (parser.isSet(versionOption))
        return printText("corvanta-join " CORVANTA_VERSION "\n", out, err);
    if (int(parser.isSet(appendOption)) + int(parser.isSet(mergeOption)) + int(parser.isSet(combineOption)) > 1)
        return usageError(err, QStringLiteral("--append, --merge and --combine exclude each other"));
    if (parser.isSet(uniqueOption) && !parser.isSet(combineOption))
        return usageError(err, QStringLiteral("--unique needs --combine"));
    if (parser.values(outputOption).size() > 1)
        return usageError(err, QStringLiteral("-o given more than once"));
    if (parser.isSet(outputOption) && parser.value(outputOption).isEmpty())
        return usageError(err, QStringLiteral("-o needs a file name"));
    if (parser.values(reportOption).size() > 1)
        return usageError(err, QStringLiteral("--report given more than once"));
    if (parser.isSet(reportOption) && parser.value(reportOption).isEmpty())
        return usageError(err, QStringLiteral("--report needs a file name"));
    for (const QCommandLineOption& option : {outputOption, reportOption})
        if (!isQtReachable(parser.value(option)))
            return usageError(err,
                              QStringLiteral("%1 cannot write to a name that is not valid UTF-8: %2")
                                  .arg(option.names().constFirst() == QLatin1String("o") ? QStringLiteral("-o")
                                                                                         : QStringLiteral("--report"),
                                       displayPath(parser.value(option))));
    if (parser.isSet(jsonOption) && !parser.isSet(checkOption))
        return usageError(err, QStringLiteral("--json goes with --check"));
    if (parser.isSet(checkOption) && (parser.isSet(appendOption) || parser.isSet(outputOption) ||
                                      parser.isSet(reportOption) || parser.isSet(uniqueOption)))
        return usageError(
            err, QStringLiteral("--check joins nothing: --append, --unique, -o and --report do not go with it"));
    if (parser.isSet(keepGoingOption) && (parser.isSet(appendOption) || parser.isSet(checkOption)))
        return usageError(err, QStringLiteral("--keep-going leaves out files of a Merge or Combine: --append and "
                                              "--check do not go with it"));
    const QStringList wrapRoots = parser.values(wrapOption);
    if (wrapRoots.size() > 1)
        return usageError(err, QStringLiteral("--wrap given more than once"));
    if (!wrapRoots.isEmpty() && !parser.isSet(appendOption))
        return usageError(err, QStringLiteral("--wrap needs --append"));
    if (!wrapRoots.isEmpty() && !isWrapRootName(wrapRoots.first()))
        return usageError(
            err, QStringLiteral("--wrap needs an XML name without a colon, not \"%1\"").arg(wrapRoots.first()));
    for (const QString& list : parser.values(filesFromOption))
        if (list.isEmpty())
            return usageError(err, QStringLiteral("--files-from needs a file name"));
    if (parser.values(filesFromOption).count(QStringLiteral("-")) > 1)
        return usageError(err, QStringLiteral("--files-from - given more than once"));
    if (parser.isSet(nullOption) && !parser.isSet(filesFromOption))
        return usageError(err, QStringLiteral("--null goes with --files-from"));
    if (parser.positionalArguments().isEmpty() && !parser.isSet(filesFromOption))
        return usageError(err, QStringLiteral("no PATH given"));

    QStringList paths;
    const PathListSeparator separator = parser.isSet(nullOption) ? PathListSeparator::Nul : PathListSeparator::Line;
    for (const PathSource& source : pathSources(arguments, {QStringLiteral("o"), QStringLiteral("wrap"),
                                                            QStringLiteral("report"), QStringLiteral("files-from")})) {
        if (!source.list) {
            paths += source.text;
            continue;
        }
        try {
            paths += readPathList(source.text, separator).paths;
        } catch (const Failure& failure) {
            write(err, "corvanta-join: list not read: ");
            tellFailure(err, failure);
            return 1;
        }
    }
    const QStringList inputs = expandInputs(paths);
    if (parser.isSet(checkOption))
        return checkOnly(inputs, parser.isSet(jsonOption),
                         parser.isSet(combineOption) ? CheckFor::Combine : CheckFor::Merge, out, err);

    if (const QString clash = reportClash(parser.value(reportOption), parser.value(outputOption), inputs);
        !clash.isEmpty())
        return usageError(err, clash);

    const bool append = parser.isSet(appendOption);
    const bool combine = parser.isSet(combineOption);
    const bool unique = parser.isSet(uniqueOption);
    std::optional<JoinReport> report;
    if (parser.isSet(reportOption))
        report.emplace(append    ? JoinReport::Mode::Append
                       : combine ? JoinReport::Mode::Combine
                                 : JoinReport::Mode::Merge,
                       unique);
    ProgressLine progress(err, progressTiming);
    ConsoleHost host(inputs, append, wrapRoots.value(0), err, progress, report ? &*report : nullptr, combine, unique,
                     parser.isSet(keepGoingOption));
    host.setOutput(out, parser.value(outputOption));
    joinFiles(host);
    progress.clear();

    int status = host.resultWritten() && !host.messageShown() && !host.skipped() ? 0 : 1;
    if (!host.outputError().isEmpty()) {
        write(err, encodeSystemCodePage(QString(host.outputError() + QLatin1Char('\n'))));
        status = 1;
    }
    if (report) {
        report->finish(host.resultProduced());
        // A report that cannot be written must not pass for one that was.
        if (!writeReport(*report, parser.value(reportOption), err))
            status = 1;
    }
    return status;
}

} // namespace

int runCommandLineJoin(const QStringList& arguments, std::FILE* out, std::FILE* err, ProgressTiming progressTiming) {
    try {
        return runJoinCommand(arguments, out, err, progressTiming);
    } catch (const std::bad_alloc&) {
        // Outside the join and the check, which tell it themselves: reading the lists, scanning folders, the report.
        write(err, "There was not enough memory to finish the join.\n");
        return 1;
    }
}

} // namespace corvanta
