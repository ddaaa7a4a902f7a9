#include "engine/join/joinedtext.h"

#include "engine/text/filecopy.h"
#include "engine/text/textfile.h"

#include <QFileInfo>
#include <filesystem>

namespace corvanta {

QString JoinedText::text() const {
    return readTextFile(m_path);
}

void JoinedText::writeTo(ByteSink& sink) const {
    if (m_inSystemCodePage) {
        // Nothing to decode: the bytes go on as they are, copied by the kernel where it can.
        QFile file(m_path);
        if (file.open(QIODevice::ReadOnly | QIODevice::Unbuffered) && file.size() > 0)
            return sink.writeRestOf(file);
    }
    // An empty, missing or unreadable file is what the reader says it is.
    TextFileReader(m_path).writeTo(sink);
}

void JoinedText::saveAs(const QString& path) const {
    if (!moveTo(path))
        writeFileAtomically(path, [&](ByteSink& sink) { writeTo(sink); });
}

bool JoinedText::moveTo(const QString& path) const {
    const QFileInfo target(path);
    // Through a link QSaveFile writes the file it points to; a rename would replace the link.
    if (!m_inSystemCodePage || target.isSymLink() || target.isDir())
        return false;
    const ReplacedFile replaced(path);
    // A file of more names is written through by the copy, which keeps them all.
    if (replaced.hardLinked())
        return false;
    QFile file(m_path);
    if (!file.open(QIODevice::ReadWrite) || file.size() == 0 || !syncToDisk(file))
        return false;
    // A replaced file keeps its owner, group and permissions; a new one gets the default ones it has already. When
    // not all can be kept (another user's file), the copy does what can be done.
    if (!replaced.passOnTo(file.handle()))
        return false;
    file.close();
    std::error_code error; // another file system, most often: the text is then copied
    std::filesystem::rename(QFileInfo(m_path).filesystemFilePath(), target.filesystemFilePath(), error);
    return !error;
}

} // namespace corvanta
