#include "engine/join/joincommand.h"

#include "engine/files/workingfile.h"
#include "engine/files/workingfolder.h"
#include "engine/join/combinemode.h"
#include "engine/join/errorreport.h"
#include "engine/join/mergemode.h"
#include "engine/join/steprunner.h"
#include "engine/text/failure.h"
#include "engine/text/filepath.h"
#include "engine/text/textfile.h"
#include "engine/xml/xmlwrap.h"

#include <QDir>
#include <QFileInfo>
#include <exception>
#include <new>
#include <optional>
#include <system_error>

namespace corvanta {

namespace {

class JoinRun {
public:
    JoinRun(JoinHost& host, std::stop_token stop)
        : m_host(host)
        , m_steps(
              [this](int step, const QString& description, qsizetype moreFailures) {
                  m_host.showErrorReport(
                      applicationErrorReport(description, location::JoinFiles, step, m_currentPath, moreFailures));
              },
              std::move(stop), OutOfMemory::End) {}

    void run() {
        if (!m_steps.test(102, [&] { return m_host.itemCount() >= 1; })) {
            m_steps.step(186, [&] { m_host.showMessage(QStringLiteral("No files added."), JoinHost::Icon::None); });
            return;
        }
        m_steps.step(104, [&] {
            m_folder.emplace();
            m_workingPath = m_folder->workingPath();
            if (m_workingPath.isEmpty())
                throw Failure(
                    QStringLiteral("Cannot make a working folder in %1: %2")
                        .arg(QDir::toNativeSeparators(WorkingFolder::temporaryRoot()), m_folder->errorString()));
        });
        if (m_steps.test(108, [&] { return m_host.appendSelected(); })) {
            runAppendMode();
        } else {
            const bool combine = m_host.combineSelected();
            const MergeOutcome outcome = combine ? runCombineMode(m_host, m_steps, m_workingPath, m_host.uniqueNodes())
                                                 : runMergeMode(m_host, m_steps, m_workingPath);
            if (outcome == MergeOutcome::Stopped)
                return;
            m_workingFileIncomplete = outcome == MergeOutcome::NotSaved;
            // libxml2 writes the merged document as well-formed UTF-8, which is its text in the system code page
            // byte for byte: it is handed on as it is, like Append's texts.
            m_wholeTexts = outcome == MergeOutcome::Saved;
        }
        handOff();
    }

private:
    void runAppendMode() {
        // Closed before the hand-off reads and deletes the file.
        WorkingFileAppender working(m_workingPath, kStreamBlockSize, m_steps.stopToken());
        QString wrapRoot;
        m_steps.step(110, [&] { m_host.setBusyPointer(true); });
        int count = 0;
        m_steps.step(112, [&] {
            count = m_host.itemCount();
            wrapRoot = m_host.wrapRootName();
        });
        if (!wrapRoot.isEmpty())
            writeWorkingFile(working, 112, [&] { working.appendBytes(wrapStart(wrapRoot)); });
        for (int i = 1; i <= count; ++i) {
            m_steps.step(114, [&] { m_currentPath = m_host.itemText(i); });
            m_steps.step(116, [&] { m_host.setProgress(double(i) / m_host.itemCount() * 100.0); });
            if (!canWrite()) {
                // Nothing more goes in, but the input is still read: a read failure is told all the same.
                std::optional<TextReading> reading;
                m_steps.step(118, [&] {
                    NullSink discard;
                    StoppableSink nothing(discard, m_steps.stopToken());
                    TextFileReader reader(m_currentPath, kStreamBlockSize, m_steps.stopToken());
                    if (!reader.exists())
                        reading = TextReading::Missing;
                    reader.requireFile();
                    reader.writeTo(nothing);
                    reading = reader.reading();
                });
                m_host.joinObserver().appended(i, m_currentPath, 0, reading);
                continue;
            }
            // 118 reads the input and 120 appends it, together block by block: a read failure is told as 118, a
            // write failure as 120. Either way nothing of the input stays in the working file.
            bool entities = false;
            const bool read = m_steps.step(118, [&] {
                if (wrapRoot.isEmpty())
                    working.appendFile(m_currentPath);
                else
                    entities = working.appendWrappedFile(m_currentPath);
            });
            const bool written = writeWorkingFile(working, 120, [] {});
            m_host.joinObserver().appended(i, m_currentPath, written ? working.lastAdded() : 0, working.lastReading());
            if (read && written && entities)
                m_steps.step(
                    118, [&] { m_host.showMessage(droppedEntitiesMessage(m_currentPath), JoinHost::Icon::Warning); });
        }
        if (!wrapRoot.isEmpty())
            writeWorkingFile(working, 122, [&] { working.appendBytes(wrapEnd(wrapRoot)); });
        m_steps.step(124, [&] { m_host.setBusyPointer(false); });
        m_steps.step(126, [&] { m_host.setProgress(0); });
        m_wholeTexts = working.holdsWholeTexts();
    }

    // Without a working folder there is nothing to write to, and the hand-off says "Join Fail.". After a failed
    // write the file is known to be incomplete: it is never handed off, so nothing more goes in.
    bool canWrite() const { return !m_workingPath.isEmpty() && !m_workingFileIncomplete; }

    /// Runs \a write as step \a step when the working file can still take it, and tells its failure.
    template <typename Write> bool writeWorkingFile(WorkingFileAppender& working, int step, Write&& write) {
        if (!canWrite())
            return false;
        m_workingFileIncomplete = !m_steps.step(step, [&] {
            write();
            if (!working.lastWriteError().isEmpty())
                throw Failure(working.lastWriteError());
        });
        return !m_workingFileIncomplete;
    }

    static QString droppedEntitiesMessage(const QString& path) {
        return QStringLiteral("The document type declaration of %1 declares entities. Wrapping leaves the "
                              "declaration out, so references to them in the joined document are undefined.")
            .arg(displayPath(path));
    }

    void handOff() {
        if (m_steps.test(172, [&] { return !m_workingFileIncomplete && QFileInfo(m_workingPath).isFile(); })) {
            m_steps.step(176, [&] { m_host.setResultsText(JoinedText(m_workingPath, m_wholeTexts)); });
            m_steps.step(178, [&] { removeFile(m_workingPath); });
            m_steps.step(180, [&] { m_host.showResults(); });
            m_steps.step(182, [&] { m_host.hideMain(); });
        } else {
            m_steps.step(184, [&] { m_host.showMessage(QStringLiteral("Join Fail."), JoinHost::Icon::Warning); });
        }
    }

    JoinHost& m_host;
    QString m_currentPath;
    StepRunner m_steps;
    std::optional<WorkingFolder> m_folder; // removed, with the working file, when the run ends
    QString m_workingPath;
    bool m_workingFileIncomplete = false;
    bool m_wholeTexts = false; // the working file holds its text in the system code page, byte for byte
};

} // namespace

namespace {

QString joinStoppedBy(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const std::bad_alloc&) {
        return QStringLiteral("There was not enough memory to finish the join.");
    } catch (const std::system_error& error) {
        // A thread that cannot start for want of memory for its stack.
        if (error.code() == std::errc::resource_unavailable_try_again)
            return QStringLiteral("There was not enough memory to finish the join.");
        return QStringLiteral("The join could not go on: %1").arg(QString::fromLocal8Bit(error.what()));
    } catch (const std::exception& error) {
        return QStringLiteral("The join could not go on: %1").arg(QString::fromLocal8Bit(error.what()));
    }
}

} // namespace

void joinFiles(JoinHost& host, std::stop_token stop) {
    std::exception_ptr failure;
    try {
        JoinRun(host, std::move(stop)).run();
    } catch (const StepsStopped&) {
        // The run's documents and working folder went as the exception passed.
    } catch (...) {
        // Memory that ran out in a step or outside every step (setting a step up): the run and its working folder
        // are gone already, and memory with them, so the message can be shown.
        failure = std::current_exception();
    }
    if (!failure)
        return;
    try {
        host.setBusyPointer(false);
        host.setProgress(0);
        host.showMessage(joinStoppedBy(failure), JoinHost::Icon::Warning);
    } catch (...) {
        // Nothing more can be said.
    }
}

} // namespace corvanta
