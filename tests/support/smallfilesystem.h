#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QTemporaryDir>

/// A fresh folder that holds at most a few kilobytes, for one test: writes past that fail with "No space left on
/// device" as on a full disk, in this process (through the write quota linked into the tests) and in the programs
/// a test starts with environment(). No mount, so it works for any user.
class SmallFileSystem {
public:
    explicit SmallFileSystem(int kilobytes);
    ~SmallFileSystem();
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;

    QString path() const { return m_folder.path(); }
    /// Path of \a name inside the file system.
    QString filePath(const QString& name) const { return m_folder.filePath(name); }
    /// True when nothing but the folder itself is left in it.
    bool isEmpty() const;
    /// The variables that give a program started by the test the same limit.
    QList<QPair<QString, QString>> environment() const;

private:
    QTemporaryDir m_folder;
    int m_kilobytes;
};
