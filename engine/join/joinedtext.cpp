#include "engine/join/joinedtext.h"

#include "engine/text/filecopy.h"
#include "engine/text/textfile.h"

#include <QFileInfo>
#include <QStringDecoder>
#include <filesystem>

namespace corvanta {

QString JoinedText::text(const std::stop_token& stop) const {
    // Decoded block by block as it is read, so that a stop is heard within one: a result of a few hundred megabytes
    // takes a good part of a second. The reader hands on UTF-8 throughout; the decoder keeps a character that a
    // block's end cuts for the next block.
    class DecodingSink final : public ByteSink {
    public:
        explicit DecodingSink(QString& text)
            : m_text(text) {}
        void write(QByteArrayView bytes) override { m_text += m_decoder.decode(bytes); }

    private:
        QString& m_text;
        QStringDecoder m_decoder{QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom}; // a mark stays text
    };
    TextFileReader reader(m_path, kStreamBlockSize, {}, TextFileReader::Declarations::Ignored);
    QString text;
    text.reserve(reader.size());
    DecodingSink decoding(text);
    StoppableSink sink(decoding, stop);
    reader.writeTo(sink);
    return text;
}

void JoinedText::writeTo(ByteSink& sink) const {
    if (m_inSystemCodePage) {
        // Nothing to decode: the bytes go on as they are, copied by the kernel where it can.
        QFile file(m_path);
        if (file.open(QIODevice::ReadOnly | QIODevice::Unbuffered) && file.size() > 0)
            return sink.writeRestOf(file);
    }
    // An empty, missing or unreadable file is what the reader says it is.
    TextFileReader(m_path, kStreamBlockSize, {}, TextFileReader::Declarations::Ignored).writeTo(sink);
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
