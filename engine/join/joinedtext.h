#pragma once

#include "engine/text/bytesink.h"
#include "engine/text/textstore.h"

#include <QString>
#include <stop_token>

namespace corvanta {

/// The joined text handed to the results window: the working file, read when the host asks for it during the
/// hand-off (the file is deleted right after). A window opens it as a store, which keeps the file open and reads
/// it in blocks; a console streams it out in blocks.
class JoinedText {
public:
    /// The text of the working file at \a path. \a inSystemCodePage says that the run wrote nothing to the file but
    /// whole texts in the system code page, so that its bytes, when there are any, are the text as they are.
    explicit JoinedText(QString path, bool inSystemCodePage = false)
        : m_path(std::move(path))
        , m_inSystemCodePage(inSystemCodePage) {}

    /// The text, as readTextFile() makes it of the file. Throws Failure when the file cannot be read, and
    /// StopRequested within a block once \a stop is requested.
    QString text(const std::stop_token& stop = {}) const;
    /// The same text, read from the working file as it is needed; the file stays open, and readable, as long as the
    /// store lives. Throws as TextStore::open() does.
    std::shared_ptr<const TextStore> store(const std::stop_token& stop = {}) const {
        return TextStore::open(m_path, stop);
    }
    /// Hands the text in the system code page to \a sink, block by block. Throws Failure when the file cannot be
    /// read, and whatever \a sink throws.
    void writeTo(ByteSink& sink) const;
    /// Writes the text in the system code page to \a path as writeFileAtomically() does: replaced only once the
    /// whole text is on disk. When the working file holds the text as it is, on the file system of \a path, it
    /// becomes \a path itself instead of being copied. Throws WriteFailure when \a path cannot be written, Failure
    /// when the working file cannot be read.
    void saveAs(const QString& path) const;

private:
    bool moveTo(const QString& path) const;

    QString m_path;
    bool m_inSystemCodePage;
};

} // namespace corvanta
