#pragma once

#include <QString>
#include <QTemporaryDir>

/// A tiny file system (tmpfs) mounted on a fresh folder for one test and unmounted when the object goes, to make
/// writes fail with "No space left on device" for real. Mounting needs root; where it is not permitted (or on a
/// system without tmpfs), isMounted() is false and whyNot() says why, for the test to skip.
class SmallFileSystem {
public:
    explicit SmallFileSystem(int kilobytes);
    ~SmallFileSystem();
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;

    bool isMounted() const { return m_mounted; }
    QString whyNot() const { return m_whyNot; }
    QString path() const { return m_folder.path(); }
    /// Path of \a name inside the file system.
    QString filePath(const QString& name) const { return m_folder.filePath(name); }
    /// True when nothing but the folder itself is left in it.
    bool isEmpty() const;

private:
    QTemporaryDir m_folder;
    bool m_mounted = false;
    QString m_whyNot;
};
