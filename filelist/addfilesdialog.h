#pragma once

#include <QFileDialog>
#include <QStringList>

namespace corvanta {

class FileListView;

/// The open dialog of Add Files (`CommonDialog1`): several files at once, XML files first, then all files.
/// Qt's own dialog rather than the platform's, so that it looks and behaves the same everywhere.
class AddFilesDialog : public QFileDialog {
    Q_OBJECT

public:
    explicit AddFilesDialog(QWidget* parent = nullptr);

    /// Shows the dialog modally with nothing preselected and the XML filter active; returns the chosen files'
    /// absolute paths in the dialog's order, or nothing when cancelled.
    QStringList choose();

private:
    void widenAllFilesFilter(const QString& filter);
};

/// Shows \a dialog and appends every chosen file to \a list, in the dialog's order.
void addChosenFiles(AddFilesDialog& dialog, FileListView& list);

} // namespace corvanta
