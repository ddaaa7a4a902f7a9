#include "addfilesdialog.h"

#include "filelistview.h"

namespace corvanta {

namespace {

QStringList addFilesFilters() {
    return {QStringLiteral("XML Files (*.xml)"), QStringLiteral("All Files (*.*)")};
}

} // namespace

AddFilesDialog::AddFilesDialog(QWidget* parent)
    : QFileDialog(parent) {
    setObjectName(QStringLiteral("CommonDialog1"));
    setOption(QFileDialog::DontUseNativeDialog);
    setWindowTitle(QStringLiteral("Add File(s) - Hold Ctrl to select multiple files"));
    setFileMode(QFileDialog::ExistingFiles);
    setAcceptMode(QFileDialog::AcceptOpen);
    setNameFilters(addFilesFilters());
}

QStringList AddFilesDialog::choose() {
    selectFile(QString());
    selectNameFilter(addFilesFilters().constFirst());
    if (exec() != QDialog::Accepted)
        return {};
    return selectedFiles();
}

void AddFiles(AddFilesDialog& dialog, FileListView& list) {
    const QStringList paths = dialog.choose();
    for (const QString& path : paths)
        list.appendItem(path);
}

} // namespace corvanta
