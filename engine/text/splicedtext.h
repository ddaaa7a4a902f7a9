#pragma once

#include "engine/text/spillingtext.h"

#include <QByteArrayView>
#include <QFileDevice>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

namespace corvanta {

/// A text put together, in order, from bytes of its own and ranges of files that texts written elsewhere left
/// behind. The ranges stay where they lie until the text is written out: a text written once on a parsing thread
/// is not copied again on its way into the result. Written once, front to back, and read once, front to back.
class SplicedText {
public:
    /// Its own bytes go on in a file in \a folder beyond \a memoryLimit, as SpillingText's do.
    explicit SplicedText(QString folder = {}, qsizetype memoryLimit = qsizetype(4) << 20);

    void append(QByteArrayView bytes);
    /// Appends \a length bytes of \a file from \a offset on, which must stay as they are; the file is kept open
    /// until this goes. Throws Failure when a range too short to be kept apart cannot be read.
    void append(std::shared_ptr<QFileDevice> file, qint64 offset, qint64 length);
    qsizetype size() const { return m_size; }
    bool isEmpty() const { return m_size == 0; }

    /// Copies a file's range to the target, where it can without reading it: returns how many bytes from the
    /// range's start it copied.
    using RangeCopy = std::function<qint64(QFileDevice& file, qint64 offset, qint64 length)>;
    /// Hands the whole text on in order: each file range first to \a copy, when given, and what that leaves to
    /// \a sink block by block, like the text's own bytes. Throws Failure when a file cannot be read.
    void readAll(const std::function<void(QByteArrayView)>& sink, const RangeCopy& copy = {});

private:
    struct Piece {
        std::shared_ptr<QFileDevice> file; // null: the next bytes of m_own
        qint64 offset = 0;
        qint64 length = 0;
    };
    void settleLast();

    SpillingText m_own;
    std::vector<Piece> m_pieces;
    qsizetype m_size = 0;
};

} // namespace corvanta
