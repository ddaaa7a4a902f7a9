#include "shell/listfiles.h"

#include "engine/files/folderscan.h"
#include "engine/files/pathlist.h"
#include "engine/text/filepath.h"
#include "windowkit/settingsstore.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace corvanta {

namespace {

// How many missing paths the box names; the rest are counted.
constexpr qsizetype kShownMissing = 10;

QString chooseList(QWidget* owner, SettingsStore& settings, QFileDialog::AcceptMode mode) {
    QFileDialog dialog(owner,
                       mode == QFileDialog::AcceptOpen ? QStringLiteral("Open List") : QStringLiteral("Save List"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setNameFilters({QStringLiteral("Lists (*.txt)"), QStringLiteral("All Files (*)")});
    if (mode == QFileDialog::AcceptSave)
        dialog.setDefaultSuffix(QStringLiteral("txt"));
    const QString folder = settings.read(settings::ListFolder);
    if (!folder.isEmpty() && QFileInfo(folder).isDir())
        dialog.setDirectory(folder);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    QString chosen = dialog.selectedFiles().constFirst();
    settings.write(settings::ListFolder, QFileInfo(chosen).absolutePath());
    return chosen;
}

} // namespace

QString chooseListToOpen(QWidget* owner, SettingsStore& settings) {
    return chooseList(owner, settings, QFileDialog::AcceptOpen);
}

QString chooseListToSave(QWidget* owner, SettingsStore& settings) {
    return chooseList(owner, settings, QFileDialog::AcceptSave);
}

OpenedList openList(const QString& file) {
    const QDir listFolder = QFileInfo(file).absoluteDir();
    OpenedList opened;
    for (const QString& listed : readPathList(file, PathListSeparator::Line).paths) {
        // Paths as saved stay as they are written; only a relative one is made whole.
        const QFileInfo info(QDir::isRelativePath(listed) ? QDir::cleanPath(listFolder.absoluteFilePath(listed))
                                                          : listed);
        // By its bytes: a listed name that is not valid UTF-8 is beyond QFileInfo.
        if (isFolder(info.filePath()))
            opened.files += scanFolderForXmlFiles(info.filePath());
        else if (pathExists(info.filePath()))
            opened.files += info.filePath();
        else
            opened.missing += listed;
    }
    return opened;
}

QString missingListedFilesMessage(const QStringList& missing) {
    QStringList lines{
        missing.size() == 1
            ? QStringLiteral("1 file of the list no longer exists and was left out:")
            : QStringLiteral("%1 files of the list no longer exist and were left out:").arg(missing.size()),
        QString()};
    for (const QString& path : missing.mid(0, kShownMissing))
        lines << displayPath(path); // a name may hold any byte but a line break
    if (missing.size() > kShownMissing)
        lines << QStringLiteral("and %1 more").arg(missing.size() - kShownMissing);
    return lines.join(QStringLiteral("\r\n"));
}

} // namespace corvanta
