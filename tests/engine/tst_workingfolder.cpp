// The join's private working folder: its lock, the sweep of folders that dead runs left behind, and its removal
// when the process is ended by a signal or exit(). Other runs are real child processes.
#include "engine/files/workingfolder.h"
#include "tests/support/testfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace corvanta;

namespace {

/// A run in a child process of this test: \a body gets a channel to tell the parent a line (the folder it made)
/// and one to wait on; the child never returns into the test framework.
class ChildRun {
public:
    using Body = std::function<void(ChildRun& child)>;

    explicit ChildRun(const Body& body) {
        int toParent[2];
        int toChild[2];
        if (::pipe(toParent) != 0 || ::pipe(toChild) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(toParent[0]);
            ::close(toChild[1]);
            m_tell = toParent[1];
            m_wait = toChild[0];
            body(*this);
            ::_exit(0);
        }
        ::close(toParent[1]);
        ::close(toChild[0]);
        m_told = toParent[0];
        m_release = toChild[1];
    }

    ~ChildRun() {
        release();
        if (m_told >= 0)
            ::close(m_told);
        if (m_pid > 0 && !m_status)
            waitForEnd();
    }

    ChildRun(const ChildRun&) = delete;
    ChildRun& operator=(const ChildRun&) = delete;

    bool started() const { return m_pid > 0; }

    // In the child.
    void tell(const QString& line) const {
        const QByteArray bytes = QFile::encodeName(line) + '\n';
        [[maybe_unused]] const ssize_t written = ::write(m_tell, bytes.constData(), size_t(bytes.size()));
    }
    void tellThroughStandardError() const { ::dup2(m_tell, STDERR_FILENO); }
    void waitForRelease() const {
        char byte = 0;
        [[maybe_unused]] const ssize_t read = ::read(m_wait, &byte, 1);
    }

    // In the parent.
    /// The line the child told, without its end; empty when it ended without telling one.
    QString toldLine() const {
        QByteArray line;
        char byte = 0;
        while (::read(m_told, &byte, 1) == 1 && byte != '\n')
            line += byte;
        return QFile::decodeName(line);
    }
    void kill(int signal) const { ::kill(m_pid, signal); }
    void release() {
        if (m_release >= 0)
            ::close(m_release);
        m_release = -1;
    }
    /// The child's wait status once it has ended.
    int waitForEnd() {
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_status = status;
        return status;
    }

private:
    pid_t m_pid = -1;
    int m_tell = -1;
    int m_wait = -1;
    int m_told = -1;
    int m_release = -1;
    std::optional<int> m_status;
};

// ThreadSanitizer takes every signal itself and runs the handler later, if at all, in a child forked from a
// process with threads: what a signal does there is the sanitizer's, not ours.
#if defined(__SANITIZE_THREAD__)
#define SKIP_SIGNALS_UNDER_TSAN() QSKIP("ThreadSanitizer delivers signals itself")
#else
#define SKIP_SIGNALS_UNDER_TSAN() static_cast<void>(0)
#endif

// In a child: makes a working folder with a working file in it and tells its path.
std::unique_ptr<WorkingFolder> makeFolderAndTell(const ChildRun& child) {
    auto folder = std::make_unique<WorkingFolder>();
    QFile file(folder->workingPath());
    if (file.open(QIODevice::WriteOnly))
        file.write("partial result");
    file.close();
    child.tell(folder->path());
    return folder;
}

} // namespace

class TestWorkingFolder : public QObject {
    Q_OBJECT

private slots:
    void init() { m_folders.renew(); }

    void folderHoldsItsLockForItsLifeAndGoesWithIt() {
        QString path;
        {
            const WorkingFolder folder;
            path = folder.path();
            QVERIFY(QFileInfo(path).isDir());
            QCOMPARE(QFileInfo(folder.workingPath()).path(), path);
            QLockFile probe(path + "/run.lock");
            probe.setStaleLockTime(0);
            QVERIFY(!probe.tryLock(0));
        }
        QVERIFY(!QFileInfo::exists(path));
        QVERIFY(rootEntries().isEmpty());
    }

    // A run killed outright leaves its folder; the next run removes it, but never the folder of a run that is still
    // going (in another process or in this one), nor a folder that is not a run's.
    void nextRunRemovesOnlyTheFoldersOfDeadRuns() {
        ChildRun killed([](ChildRun& child) {
            const auto folder = makeFolderAndTell(child);
            ::raise(SIGKILL);
        });
        QVERIFY(killed.started());
        const QString dead = killed.toldLine();
        const int status = killed.waitForEnd();
        QVERIFY(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
        QVERIFY(QFileInfo::exists(dead + "/temp.xml"));

        // A dead run's folder elsewhere, reached from the temporary folder through a link of a run folder's name.
        const QTemporaryDir elsewhere;
        ChildRun killedElsewhere([&elsewhere](ChildRun& child) {
            qputenv("TEMP", QFile::encodeName(elsewhere.path()));
            const auto folder = makeFolderAndTell(child);
            ::raise(SIGKILL);
        });
        const QString deadElsewhere = killedElsewhere.toldLine();
        killedElsewhere.waitForEnd();
        const QString link = m_folders.tempPath() + "/corvanta-linked";
        QVERIFY(QFile::link(deadElsewhere, link));

        ChildRun living([](ChildRun& child) {
            const auto folder = makeFolderAndTell(child);
            child.waitForRelease();
        });
        QVERIFY(living.started());
        const QString alive = living.toldLine();
        const WorkingFolder ours;
        const QString foreign = m_folders.tempPath() + "/corvanta-abcdef";
        writeFile(foreign + "/temp.xml", "not a run's");

        const WorkingFolder next;

        QVERIFY(!QFileInfo::exists(dead));
        QVERIFY(QFileInfo::exists(alive + "/temp.xml"));
        QVERIFY(QFileInfo(ours.path()).isDir());
        QVERIFY(QFileInfo::exists(foreign + "/temp.xml"));
        QVERIFY(QFileInfo(link).isSymLink());
        QVERIFY(QFileInfo::exists(deadElsewhere + "/temp.xml"));

        living.release();
        QCOMPARE(living.waitForEnd(), 0);
        QVERIFY(!QFileInfo::exists(alive));
    }

    void terminationRemovesTheLiveFolder_data() {
        QTest::addColumn<int>("signal"); // 0: exit(3)
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGHUP") << SIGHUP;
        QTest::newRow("SIGPIPE") << SIGPIPE;
        QTest::newRow("exit()") << 0;
    }

    // The process still ends as the signal's default action would end it, so its parent sees the usual status.
    void terminationRemovesTheLiveFolder() {
        QFETCH(int, signal);
        if (signal != 0)
            SKIP_SIGNALS_UNDER_TSAN();
        ChildRun run([signal](ChildRun& child) {
            for (const int each : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
                std::signal(each, SIG_DFL);
            removeWorkingFoldersOnTermination();
            const auto folder = makeFolderAndTell(child);
            if (signal == 0)
                std::exit(3);
            ::raise(signal);
            ::_exit(4); // not reached when the signal ended the process
        });
        QVERIFY(run.started());
        const QString path = run.toldLine();
        QVERIFY(!path.isEmpty());

        const int status = run.waitForEnd();

        if (signal == 0)
            QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 3);
        else
            QVERIFY2(WIFSIGNALED(status) && WTERMSIG(status) == signal, qPrintable(QString::number(status)));
        QVERIFY(!QFileInfo::exists(path));
        QVERIFY(rootEntries().isEmpty());
    }

    void signalWhileFoldersComeAndGoEndsByTheSignal_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGTERM") << SIGTERM;
    }

    // The handler may run while other threads make and remove folders: it reads nothing they free, so the
    // process ends by the signal, not by a crash in the handler.
    void signalWhileFoldersComeAndGoEndsByTheSignal() {
        QFETCH(int, signal);
        SKIP_SIGNALS_UNDER_TSAN();
        for (int round = 0; round < 4; ++round) {
            ChildRun run([](ChildRun& child) {
                for (const int each : {SIGINT, SIGTERM})
                    std::signal(each, SIG_DFL);
                removeWorkingFoldersOnTermination();
                std::atomic<int> made{0};
                std::vector<std::thread> churn;
                churn.reserve(3);
                for (int i = 0; i < 3; ++i)
                    churn.emplace_back([&] {
                        for (;;) {
                            const WorkingFolder folder;
                            ++made;
                        }
                    });
                while (made < 30)
                    std::this_thread::yield();
                child.tell(QStringLiteral("churning"));
                child.waitForRelease();
                ::_exit(4); // not reached when the signal ended the process
            });
            QVERIFY(run.started());
            QCOMPARE(run.toldLine(), QStringLiteral("churning"));
            std::this_thread::sleep_for(std::chrono::milliseconds(5 * round));

            run.kill(signal);
            const int status = run.waitForEnd();

            QVERIFY2(WIFSIGNALED(status) && WTERMSIG(status) == signal, qPrintable(QString::number(status)));
        }
    }

    // Memory that runs out on a thread, where nothing can catch it, ends the process with the line and status 1, and
    // takes the folder with it, instead of an abort.
    void outOfMemoryEscapingAThread() {
#if defined(__SANITIZE_THREAD__)
        QSKIP("ThreadSanitizer lets a child forked from threads start none of its own");
#endif
        ChildRun run([](ChildRun& child) {
            removeWorkingFoldersOnTermination("no memory left\n");
            const auto folder = makeFolderAndTell(child);
            child.tellThroughStandardError();
            std::thread([] { throw std::bad_alloc(); }).join();
            ::_exit(4); // not reached
        });
        QVERIFY(run.started());
        const QString path = run.toldLine();
        QVERIFY(!path.isEmpty());
        QCOMPARE(run.toldLine(), QStringLiteral("no memory left"));
        const int status = run.waitForEnd();
        QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 1, qPrintable(QString::number(status)));
        QVERIFY(!QFileInfo::exists(path));
    }

    // nohup and a shell's background jobs ignore some signals on purpose: they stay ignored.
    void ignoredSignalStaysIgnored() {
        ChildRun run([](ChildRun& child) {
            std::signal(SIGHUP, SIG_IGN);
            removeWorkingFoldersOnTermination();
            const auto folder = makeFolderAndTell(child);
            ::raise(SIGHUP);
            ::_exit(QFileInfo::exists(folder->workingPath()) ? 5 : 6);
        });
        QVERIFY(run.started());
        QVERIFY(!run.toldLine().isEmpty());
        const int status = run.waitForEnd();
        QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 5);
    }

private:
    QStringList rootEntries() const {
        return QDir(m_folders.tempPath())
            .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    }

    TestFolders m_folders;
};

QTEST_GUILESS_MAIN(TestWorkingFolder)
#include "tst_workingfolder.moc"
