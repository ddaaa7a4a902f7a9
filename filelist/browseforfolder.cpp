#include "filelist/browseforfolder.h"

#include <QFileDialog>

namespace corvanta {

QString chooseFolder(QWidget* owner, const QString& title) {
    QFileDialog dialog(owner, title);
    dialog.setObjectName(QStringLiteral("folderBrowser"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles().value(0);
}

} // namespace corvanta
