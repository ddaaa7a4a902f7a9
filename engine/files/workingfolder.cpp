#include "engine/files/workingfolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <array>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string>

#ifdef Q_OS_UNIX
#include <csignal>
#include <unistd.h>
#endif

namespace corvanta {

namespace {

const QString kWorkingFileName = QStringLiteral("temp.xml");
const QString kLockFileName = QStringLiteral("run.lock");
// QTemporaryDir replaces the six X.
const QString kFolderPattern = QStringLiteral("corvanta-XXXXXX");
const QString kFolderFilter = QStringLiteral("corvanta-??????");

} // namespace

// The paths of one live folder as the C library takes them, fixed before the folder is announced so that a signal
// handler only reads them.
struct LiveFolderPaths {
    std::string folder;
    std::string workingFile;
    std::string lockFile;
};

namespace {

// Live folders of this process, read by the signal handler: a fixed table of atomic pointers, because a handler
// may neither lock nor allocate. More live folders than slots only lose the clean-up at termination; the next
// run's sweep still finds them.
std::array<std::atomic<const LiveFolderPaths*>, 16> g_liveFolders{};

void announce(const LiveFolderPaths* registration) {
    for (auto& slot : g_liveFolders) {
        const LiveFolderPaths* expected = nullptr;
        if (slot.compare_exchange_strong(expected, registration))
            return;
    }
}

void withdraw(const LiveFolderPaths* registration) {
    for (auto& slot : g_liveFolders) {
        const LiveFolderPaths* expected = registration;
        if (slot.compare_exchange_strong(expected, nullptr))
            return;
    }
}

// Async-signal-safe: only unlink() and rmdir() on paths made beforehand.
void removeLiveFolders() noexcept {
#ifdef Q_OS_UNIX
    for (auto& slot : g_liveFolders) {
        if (const LiveFolderPaths* live = slot.load()) {
            ::unlink(live->workingFile.c_str());
            ::unlink(live->lockFile.c_str());
            ::rmdir(live->folder.c_str());
        }
    }
#endif
}

void removeLiveFoldersAtExit() {
    removeLiveFolders();
}

#ifdef Q_OS_UNIX
void removeLiveFoldersAndEnd(int signal) {
    removeLiveFolders();
    // The signal is blocked while its handler runs: raised again under the default action, it ends the process
    // as soon as the handler returns.
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}
#endif

std::string nativePath(const QString& path) {
    return QFile::encodeName(QDir::toNativeSeparators(path)).toStdString();
}

// The template for a new folder; the stale folders go first, so that one crash does not cost space for ever.
QString sweptTemplate() {
    const QString root = WorkingFolder::temporaryRoot();
    WorkingFolder::removeStaleFolders(root);
    return root + QLatin1Char('/') + kFolderPattern;
}

} // namespace

WorkingFolder::WorkingFolder()
    : m_dir(sweptTemplate()) {
    if (!m_dir.isValid())
        return;
    m_lock = std::make_unique<QLockFile>(m_dir.filePath(kLockFileName));
    // Without the lock the join still works; only a sweep after a crash would not recognise the folder.
    if (!m_lock->tryLock(0))
        m_lock.reset();
    m_live = std::make_unique<LiveFolderPaths>(LiveFolderPaths{nativePath(m_dir.path()),
                                                               nativePath(m_dir.filePath(kWorkingFileName)),
                                                               nativePath(m_dir.filePath(kLockFileName))});
    announce(m_live.get());
}

WorkingFolder::~WorkingFolder() {
    withdraw(m_live.get());
    m_lock.reset();
}

QString WorkingFolder::temporaryRoot() {
    const QString temp = qEnvironmentVariable("TEMP");
    return temp.isEmpty() ? QDir::tempPath() : QDir::cleanPath(temp);
}

void WorkingFolder::removeStaleFolders(const QString& root) {
    // NoSymLinks: a link of that name leads somewhere that is not ours to remove.
    const QFileInfoList folders =
        QDir(root).entryInfoList({kFolderFilter}, QDir::Dirs | QDir::NoSymLinks | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QFileInfo& folder : folders) {
        const QString lockPath = folder.filePath() + QLatin1Char('/') + kLockFileName;
        if (!QFileInfo(lockPath).isFile())
            continue;
        QLockFile probe(lockPath);
        // A live run may hold its lock for hours; only a run that is gone counts as stale.
        probe.setStaleLockTime(0);
        if (!probe.tryLock(0))
            continue;
        probe.unlock();
        QDir(folder.filePath()).removeRecursively();
    }
}

QString WorkingFolder::workingPath() const {
    return m_dir.isValid() ? m_dir.filePath(kWorkingFileName) : QString();
}

QString WorkingFolder::path() const {
    return m_dir.isValid() ? m_dir.path() : QString();
}

QString WorkingFolder::errorString() const {
    return m_dir.isValid() ? QString() : m_dir.errorString();
}

void removeWorkingFoldersOnTermination() {
    static std::once_flag once;
    std::call_once(once, [] {
        std::atexit(&removeLiveFoldersAtExit);
#ifdef Q_OS_UNIX
        for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
            struct sigaction previous {};
            if (::sigaction(signal, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN)
                continue; // nohup, a background job's SIGINT: ignored on purpose
            struct sigaction action {};
            action.sa_handler = &removeLiveFoldersAndEnd;
            sigemptyset(&action.sa_mask);
            ::sigaction(signal, &action, nullptr);
        }
#endif
    });
}

} // namespace corvanta
