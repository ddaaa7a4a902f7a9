#pragma once

#include <QString>
#include <QTemporaryDir>

namespace corvanta {

/// A private folder, made fresh for one join inside the temporary folder ("TEMP" when set and not empty, else
/// the platform's), holding the working file. It is removed with its content when the object goes.
class WorkingFolder {
public:
    WorkingFolder();

    /// The working file's path, or an empty text when the folder could not be made (every write then fails).
    QString workingPath() const;
    /// Why the folder could not be made; empty when it was.
    QString errorString() const;

    /// The folder that holds the private folders.
    static QString temporaryRoot();

private:
    QTemporaryDir m_dir;
};

} // namespace corvanta
