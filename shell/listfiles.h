#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace corvanta {

class SettingsStore;

/// The file dialogs of Open List and Save List: Qt's own, starting in the folder a list was last opened from or
/// saved to, which they remember. Each returns the chosen file, or nothing when cancelled.
QString chooseListToOpen(QWidget* owner, SettingsStore& settings);
QString chooseListToSave(QWidget* owner, SettingsStore& settings);

/// The paths of a saved list as they stand now.
struct OpenedList {
    /// Files, and the XML files of listed folders as Add Folder finds them, in list order.
    QStringList files;
    /// Listed paths that no longer exist.
    QStringList missing;
};

/// Reads the list in \a file. A relative path is taken relative to the list's own folder. Throws Failure when the
/// list cannot be read.
OpenedList openList(const QString& file);

/// The box after Open List when \a missing is not empty: the first ten, then how many more.
QString missingListedFilesMessage(const QStringList& missing);

} // namespace corvanta
