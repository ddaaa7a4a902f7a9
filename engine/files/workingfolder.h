#pragma once

#include <QLockFile>
#include <QString>
#include <QTemporaryDir>
#include <memory>

namespace corvanta {

struct LiveFolderPaths;

/// A private folder, made fresh for one join inside the temporary folder ("TEMP" when set and not empty, else
/// the platform's), holding the working file. It is removed with its content when the object goes, and, once
/// removeWorkingFoldersOnTermination() was called, when the process ends by a signal or exit().
/// A lock inside it is held for its life: making one first removes the folders of runs that ended without
/// removing theirs (killed outright, power cut), and never the folder of a run that is still going.
class WorkingFolder {
public:
    WorkingFolder();
    ~WorkingFolder();
    WorkingFolder(const WorkingFolder&) = delete;
    WorkingFolder& operator=(const WorkingFolder&) = delete;

    /// The working file's path, or an empty text when the folder could not be made (every write then fails).
    QString workingPath() const;
    /// The folder itself; empty when it could not be made.
    QString path() const;
    /// Why the folder could not be made; empty when it was.
    QString errorString() const;

    /// The folder that holds the private folders.
    static QString temporaryRoot();
    /// Removes the private folders in \a root whose run has ended without removing them: those whose lock is
    /// free. A folder without a lock file (being made at this moment, or not ours) is left alone.
    static void removeStaleFolders(const QString& root);

private:
    QTemporaryDir m_dir;
    std::unique_ptr<QLockFile> m_lock; // released before the folder is removed
    std::unique_ptr<LiveFolderPaths> m_live;
};

/// Makes SIGINT, SIGTERM, SIGHUP and SIGPIPE, exit() and std::terminate remove the working folders that are alive
/// in this process before it ends; a signal then ends the process as it would have without this (the default
/// action, so the parent sees the usual status). A signal that is ignored stays ignored. std::terminate called for
/// std::bad_alloc that nothing could catch (thrown out of a thread) writes \a outOfMemoryLine, when given, on
/// standard error and ends the process with status 1 instead of aborting; the line must live as long as the
/// process. For main(), once.
void removeWorkingFoldersOnTermination(const char* outOfMemoryLine = nullptr);

} // namespace corvanta
