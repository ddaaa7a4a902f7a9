#include "engine/files/workingfolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>
#include <string>

#ifdef Q_OS_UNIX
#include <csignal>
#include <unistd.h>
#endif

namespace corvanta {

namespace {

// Plain text too, for the signal handler.
constexpr char kWorkingFile[] = "temp.xml";
constexpr char kLockFile[] = "run.lock";
const QString kWorkingFileName = QString::fromLatin1(kWorkingFile);
const QString kLockFileName = QString::fromLatin1(kLockFile);
// QTemporaryDir replaces the six X.
const QString kFolderPattern = QStringLiteral("corvanta-XXXXXX");
const QString kFolderFilter = QStringLiteral("corvanta-??????");

// The live folders of this process, for the signal handler, which may neither lock, allocate nor wait. A fixed
// table of slots that hold their path in place, so that nothing a handler reads is ever freed: a folder that goes
// only hands its slot back. More live folders than slots only lose the clean-up at termination; the next run's
// sweep still finds them.
//
// Invariant: a slot's path is written only by the thread that moved its state from Free to Filling, and read only
// by whoever moved it from Live to Removing; the moves are atomic, so a handler and ~WorkingFolder never both own
// a slot. A slot in Removing is never handed back: the process is ending.
enum SlotState : int { Free, Filling, Live, Removing };

struct LiveFolderSlot {
    std::atomic<int> state{Free};
    std::array<char, 4096> folder{}; // as the C library takes it, ending in a null byte
};

static_assert(std::atomic<int>::is_always_lock_free, "the signal handler must not lock");

std::array<LiveFolderSlot, 16> g_liveFolders;

// Copies text with its end to the end of the text in to, when the whole fits in room; async-signal-safe.
bool appendText(char* to, std::size_t room, const char* text) noexcept {
    std::size_t end = 0;
    while (end < room && to[end] != 0)
        ++end;
    std::size_t length = 0;
    while (text[length] != 0)
        ++length;
    if (end + length >= room)
        return false;
    for (std::size_t i = 0; i <= length; ++i)
        to[end + i] = text[i];
    return true;
}

// Async-signal-safe: only unlink() and rmdir() on paths put together on the stack.
void removeLiveFolders() noexcept {
#ifdef Q_OS_UNIX
    for (LiveFolderSlot& slot : g_liveFolders) {
        int expected = Live;
        if (!slot.state.compare_exchange_strong(expected, Removing))
            continue;
        for (const char* name : {kWorkingFile, kLockFile}) {
            std::array<char, sizeof slot.folder + 16> path{};
            if (appendText(path.data(), path.size(), slot.folder.data()) && appendText(path.data(), path.size(), "/") &&
                appendText(path.data(), path.size(), name))
                ::unlink(path.data());
        }
        ::rmdir(slot.folder.data());
    }
#endif
}

} // namespace

// The slot of one live folder, or none.
struct LiveFolderPaths {
    LiveFolderSlot* slot = nullptr;
};

namespace {

LiveFolderSlot* announce(const std::string& folder) {
    for (LiveFolderSlot& slot : g_liveFolders) {
        int expected = Free;
        if (!slot.state.compare_exchange_strong(expected, Filling))
            continue;
        slot.folder[0] = 0;
        if (appendText(slot.folder.data(), slot.folder.size(), folder.c_str())) {
            slot.state.store(Live); // publishes the path
            return &slot;
        }
        slot.state.store(Free);
        return nullptr;
    }
    return nullptr;
}

void withdraw(LiveFolderSlot* slot) {
    if (!slot)
        return;
    // Fails only when a handler is removing the folder on another thread: the slot is the handler's then.
    int expected = Live;
    slot->state.compare_exchange_strong(expected, Free);
}

void removeLiveFoldersAtExit() {
    removeLiveFolders();
}

// Set once, before the terminate handler that reads it is installed.
const char* g_outOfMemoryLine = nullptr;
std::terminate_handler g_nextTerminate = nullptr;

bool endingForWantOfMemory() {
    const std::exception_ptr failure = std::current_exception();
    if (!failure)
        return false;
    try {
        std::rethrow_exception(failure);
    } catch (const std::bad_alloc&) {
        return true;
    } catch (...) {
        return false;
    }
}

// Other threads may still run: nothing here waits for them, unwinds or runs the exit handlers.
[[noreturn]] void removeLiveFoldersAndTerminate() {
    removeLiveFolders();
#ifdef Q_OS_UNIX
    if (g_outOfMemoryLine && endingForWantOfMemory()) {
        const std::size_t length = std::strlen(g_outOfMemoryLine);
        [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, g_outOfMemoryLine, length);
        ::_exit(1);
    }
#endif
    if (g_nextTerminate)
        g_nextTerminate();
    std::abort();
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
    m_live = std::make_unique<LiveFolderPaths>(LiveFolderPaths{announce(nativePath(m_dir.path()))});
}

WorkingFolder::~WorkingFolder() {
    withdraw(m_live ? m_live->slot : nullptr);
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

void removeWorkingFoldersOnTermination(const char* outOfMemoryLine) {
    static std::once_flag once;
    std::call_once(once, [outOfMemoryLine] {
        std::atexit(&removeLiveFoldersAtExit);
        g_outOfMemoryLine = outOfMemoryLine;
        g_nextTerminate = std::set_terminate(&removeLiveFoldersAndTerminate);
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
