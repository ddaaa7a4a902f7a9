#include "joincommand.h"

#include "errorreport.h"
#include "failure.h"
#include "mergemode.h"
#include "steprunner.h"
#include "textfile.h"
#include "workingfolder.h"

#include <QDir>
#include <QFileInfo>
#include <optional>

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
              std::move(stop)) {}

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
            const MergeOutcome outcome = runMergeMode(m_host, m_steps, m_workingPath);
            if (outcome == MergeOutcome::Stopped)
                return;
            m_workingFileIncomplete = outcome == MergeOutcome::NotSaved;
        }
        handOff();
    }

private:
    void runAppendMode() {
        m_steps.step(110, [&] { m_host.setBusyPointer(true); });
        int count = 0;
        m_steps.step(112, [&] { count = m_host.itemCount(); });
        for (int i = 1; i <= count; ++i) {
            m_steps.step(114, [&] { m_currentPath = m_host.itemText(i); });
            m_steps.step(116, [&] { m_host.setProgress(double(i) / m_host.itemCount() * 100.0); });
            QByteArray text; // nothing is appended for an input that could not be read
            std::optional<TextReading> reading;
            m_steps.step(118, [&] { text = readTextFileEncoded(m_currentPath, reading); });
            // Without a working folder there is nothing to write to, and the hand-off says "Join Fail.". After a
            // failed write the file is known to be incomplete: it is never handed off, so nothing more goes in.
            qint64 added = 0;
            if (!m_workingPath.isEmpty() && !m_workingFileIncomplete) {
                m_workingFileIncomplete = !m_steps.step(120, [&] { appendToFile(m_workingPath, text); });
                added = m_workingFileIncomplete ? 0 : text.size();
            }
            m_host.joinObserver().appended(i, m_currentPath, added, reading);
        }
        m_steps.step(124, [&] { m_host.setBusyPointer(false); });
        m_steps.step(126, [&] { m_host.setProgress(0); });
    }

    void handOff() {
        if (m_steps.test(172, [&] { return !m_workingFileIncomplete && QFileInfo(m_workingPath).isFile(); })) {
            m_steps.step(176, [&] { m_host.setResultsText(JoinedText::fromFile(m_workingPath)); });
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
};

} // namespace

void joinFiles(JoinHost& host, std::stop_token stop) {
    try {
        JoinRun(host, std::move(stop)).run();
    } catch (const StepsStopped&) {
        // The run's documents and working folder went as the exception passed.
    }
}

} // namespace corvanta
