#include "filelist/addfilesdialog.h"

#include "filelist/filelistview.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QFileSystemModel>
#include <QLineEdit>

namespace corvanta {

namespace {

const QString xmlFilesFilter = QStringLiteral("XML Files (*.xml)");
const QString allFilesFilter = QStringLiteral("All Files (*.*)");

} // namespace

AddFilesDialog::AddFilesDialog(QWidget* parent)
    : QFileDialog(parent) {
    setObjectName(QStringLiteral("CommonDialog1"));
    setOption(QFileDialog::DontUseNativeDialog);
    setWindowTitle(QStringLiteral("Add File(s) - Hold Ctrl to select multiple files"));
    setFileMode(QFileDialog::ExistingFiles);
    setAcceptMode(QFileDialog::AcceptOpen);
    setNameFilters({xmlFilesFilter, allFilesFilter});
    connect(this, &QFileDialog::filterSelected, this, &AddFilesDialog::widenAllFilesFilter);
}

QStringList AddFilesDialog::choose() {
    // Nothing preselected: the dialog keeps the last choice otherwise, and selectFile() ignores an empty name.
    // The name goes first, as emptying it selects the folder itself in the view.
    auto* nameEdit = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (nameEdit)
        nameEdit->clear();
    if (auto* view = findChild<QAbstractItemView*>(QStringLiteral("listView")))
        view->clearSelection();
    selectNameFilter(xmlFilesFilter);
    const int result = exec();
    // A path typed and confirmed with Enter can leave the name completer's list open after this dialog has gone,
    // where it would swallow the next click in the main window; this dialog is kept, so its list is too.
    if (nameEdit && nameEdit->completer() && nameEdit->completer()->popup())
        nameEdit->completer()->popup()->hide();
    if (result != QDialog::Accepted)
        return {};
    return selectedFiles();
}

void AddFilesDialog::widenAllFilesFilter(const QString& filter) {
    // "*.*" means every file where the caption comes from; taken literally it would hide names without a dot.
    // The dialog has applied the pattern by the time it reports the choice, so this replaces it.
    if (filter != allFilesFilter)
        return;
    if (auto* model = findChild<QFileSystemModel*>())
        model->setNameFilters({QStringLiteral("*")});
}

void addChosenFiles(AddFilesDialog& dialog, FileListView& list) {
    const QStringList paths = dialog.choose();
    for (const QString& path : paths)
        list.appendItem(path);
}

} // namespace corvanta
