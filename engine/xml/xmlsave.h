#pragma once

#include "engine/text/splicedtext.h"

#include <QByteArray>
#include <QString>
#include <libxml/tree.h>
#include <memory>
#include <span>
#include <stop_token>
#include <vector>

namespace corvanta {

/// Text kept as a list of blocks: a result of hundreds of megabytes then never needs one allocation of its size,
/// nor twice its size while it grows.
class ChunkedText {
public:
    /// A place in the text, from which it is read front to back.
    struct Cursor {
        std::size_t chunk = 0;
        qsizetype offset = 0;   // in the chunk
        qsizetype position = 0; // in the whole text
    };

    void append(QByteArrayView bytes);
    bool isEmpty() const { return m_chunks.empty(); }
    qsizetype size() const { return m_size; }
    const std::vector<QByteArray>& chunks() const { return m_chunks; }
    void clear() {
        m_chunks.clear();
        m_size = 0;
    }
    /// Appends the \a length bytes at \a cursor to \a into (drops them when it is null) and moves the cursor past
    /// them. Each block the cursor leaves is freed: what was read is never read again.
    void moveTo(Cursor& cursor, qsizetype length, ChunkedText* into);

private:
    std::vector<QByteArray> m_chunks;
    qsizetype m_size = 0;
};

/// Writes nodes as saveXmlDocument() writes the children of a top-level node (a child of the root element), one
/// after another, so that a document's largest part can be written while it is put together and never needs to
/// be kept as nodes.
class NodeWriter {
public:
    NodeWriter();
    ~NodeWriter();
    NodeWriter(const NodeWriter&) = delete;
    NodeWriter& operator=(const NodeWriter&) = delete;

    /// Appends \a node, with its attributes and descendants, to \a into: on a line of its own with indentation
    /// when \a indented (see indentsChildren()), as it stands otherwise. Throws std::bad_alloc.
    /// \a depth is the node's depth below the document: 2 for a child of a top-level node, 1 for a child of the
    /// root element.
    void write(xmlNode* node, bool indented, ChunkedText& into, int depth = 2);
    /// As above, into a text that may go on in a file (SpillingText, SplicedText); throws Failure when the file
    /// cannot take it.
    template <typename Text> void write(xmlNode* node, bool indented, Text& into, int depth = 2) {
        m_scratch.clear();
        write(node, indented, m_scratch, depth);
        for (const QByteArray& chunk : m_scratch.chunks())
            into.append(chunk);
        m_scratch.clear();
    }

private:
    struct Output;
    std::unique_ptr<Output> m_output;
    ChunkedText m_scratch; // what write() into another text writes first
};

/// True when saveXmlDocument() indents the children of \a element, which has children and whose parent's children
/// are indented, given whether one of them is text-like (see isTextLike()).
bool indentsChildren(const xmlNode* element, bool textLikeChild);

/// The children of a top-level element written ahead of the save with NodeWriter, for an element that has no
/// children in the tree.
struct WrittenChildren {
    xmlNode* top;
    bool indented;
    const ChunkedText* text;
    /// The depth of the children below the document: 2 under a top-level element, 1 under the root.
    int depth = 2;
    /// Where the children are when not in text: a text that may lie in files.
    SplicedText* spilled = nullptr;
};

/// Saves \a doc to \a path as UTF-8, indented two spaces per level, with every node outside the root; with an XML
/// declaration (saying UTF-8) only when \a withDeclaration. Nothing is added below an element that has text of
/// any kind or in the scope of xml:space="preserve". The children in \a written go where their top-level
/// elements stand. A save that fails leaves no file behind. Throws Failure with the system's reason, and
/// StopRequested between two blocks once \a stop is requested.
void saveXmlDocument(xmlDoc* doc, const QString& path, bool withDeclaration,
                     std::span<const WrittenChildren> written = {}, const std::stop_token& stop = {});

class SaveTarget;

/// A save as saveXmlDocument() makes it, with the children of one element written as they come: what goes before
/// them is written at once, and the rest at finish(). The file is removed unless finished. The document must not
/// change meanwhile; written children go in the file, not in the document.
class StreamedSave {
public:
    /// Starts the file at \a path with what goes before the place of \a children, whose texts are not read.
    /// Throws Failure.
    StreamedSave(xmlDoc* doc, QString path, bool withDeclaration, const WrittenChildren& children);
    ~StreamedSave();
    StreamedSave(const StreamedSave&) = delete;
    StreamedSave& operator=(const StreamedSave&) = delete;

    /// Writes \a children after those written so far. Throws Failure, and StopRequested between two blocks once
    /// \a stop is requested.
    void append(SplicedText& children, const std::stop_token& stop);
    /// The children written so far, read back.
    ChunkedText written();
    /// Starts again, for children written as \a indented says: none is written then.
    void restart(bool indented);
    /// Writes what comes after the children.
    void finish();

private:
    void writeHead();

    xmlDoc* m_doc;
    QString m_path;
    bool m_withDeclaration;
    WrittenChildren m_children;
    std::unique_ptr<SaveTarget> m_target;
    qsizetype m_headSize = 0;
    QByteArray m_tail;
};

} // namespace corvanta
