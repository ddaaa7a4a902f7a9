#pragma once

#include "engine/xml/rootchildrenreader.h"
#include "engine/xml/xmlmove.h"
#include "engine/xml/xmlparser.h"
#include "engine/xml/xmlsave.h"

#include <QString>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <unordered_set>
#include <vector>

namespace corvanta {

/// A strong hash of a node's text as written: two nodes whose texts differ never meet on one.
using NodeHash = std::array<quint64, 4>;

/// What a parsing thread needs to know of the combined document to write a later input's top-level nodes as the
/// combined document will hold them. A snapshot: the combining thread changes nothing of it while it is shared.
struct CombineTarget {
    std::shared_ptr<const xmlDoc> doc;
    const xmlNode* root = nullptr;
    bool indented = false; // how the root's children are written now
};

/// Writes the root's children of one input as they are parsed, on the parsing thread, so that the input is never
/// held as a tree: the first input's own (only while they are elements, comments or processing instructions in
/// indented content; fits() sends any other back to be parsed as a tree), or a later input's as children of the
/// combined document's root, leaving out blank text. Each top-level node becomes one written unit.
class RootChildrenWriter final : public ElementTaker, public RootChildrenSink {
public:
    /// What a later input's writer learns at its first node: the target to write for; or that its own input is
    /// the first document now, as every input before it was left out; or neither, when no first document comes.
    struct Role {
        Role(std::shared_ptr<const CombineTarget> written = {}, bool asFirst = false) // NOLINT: a target is a role
            : target(std::move(written))
            , first(asFirst) {}
        std::shared_ptr<const CombineTarget> target;
        bool first;
    };
    /// Tells what to write for, once known.
    using TargetSource = std::function<Role()>;

    /// Hears of the first document's root as soon as it is read: a target that the later inputs may write for
    /// while the first document is still being read. Its root has the root's name and namespace declarations, and
    /// nothing else that a later node's text depends on: a document read from its text has no document type and
    /// no xml:space. Whether the root's children are indented is not known yet: they are taken to be.
    using Announce = std::function<void(std::shared_ptr<const CombineTarget>)>;

    /// For the first input; with \a hashes, each unit's hash is kept. What is written beyond a megabyte goes to a
    /// file in \a folder, when given. \a announce, when given, hears of the root when the text is read.
    explicit RootChildrenWriter(bool hashes, const QString& folder = {}, Announce announce = {});
    /// For a later input whose text is \a sourceSize bytes long. Until \a source knows the target, the nodes stay
    /// in the document. \a source is asked before any node is taken, blank text included, so that an input that
    /// turns out to be the first is written exactly as a first input is.
    RootChildrenWriter(TargetSource source, qsizetype sourceSize, bool hashes, const QString& folder = {});

    bool takesRootChildren() const override { return true; }
    bool take(qsizetype topIndex, xmlNode* node) override;
    bool fits(const xmlNode* root) const override;
    void forget() override;
    /// The root's children are taken from the text: the first input's while none is text-like, a later input's
    /// where the first document's root declares every namespace the later root does, the same way, so that nothing
    /// about them changes with their place.
    RootChildrenSink* textSink() override { return this; }
    bool begin(std::string_view rootName, std::span<const NamespaceDeclaration> rootDeclarations) override;
    bool add(const RecordedNode& node) override;

    /// One written top-level node.
    struct Unit {
        qsizetype length = 0;
        bool indented = false;
        bool textLike = false; // it would turn the indentation of its siblings off
    };

    // For the combining thread, once the parse is over; the units come in document order.
    bool atEnd() const { return m_next == m_units.size(); }
    const Unit& next() const { return m_units.at(m_next); }
    /// The next unit's hash, when hashes are kept.
    const NodeHash& nextHash() const { return m_unitHashes.at(m_next); }
    /// Appends the next unit's text to \a into, or drops it when \a into is null.
    void moveNext(ChunkedText* into);
    /// Appends the next unit's text to \a into, where it may stay in this writer's file.
    void moveNext(SplicedText& into);
    /// As NodeMover::unresolvedEntities(), for the nodes written.
    QStringList unresolvedEntities() const { return m_mover ? m_mover->unresolvedEntities() : QStringList(); }

private:
    bool knowRole();
    void keep(const ChunkedText& unit, bool indented, bool textLike);

    bool m_first;
    bool m_roleKnown; // a later input's writer asks its source once, at its first node
    bool m_hashes;
    TargetSource m_source;
    Announce m_announce;
    qsizetype m_sourceSize = 0;
    std::shared_ptr<const CombineTarget> m_target;
    std::optional<NodeMover> m_mover;
    bool m_textWritten = false; // the units after a text-like one are written without indentation
    QString m_folder;
    NodeWriter m_writer;
    SpillingText m_text;
    std::vector<Unit> m_units;
    std::vector<NodeHash> m_unitHashes; // by unit, when kept: most joins keep none, and a unit is a record
    std::size_t m_next = 0;
    qsizetype m_position = 0; // where the next unit starts in m_text
};

/// The hash of \a text.
NodeHash hashOf(const ChunkedText& text);
NodeHash hashOf(QByteArrayView text);

/// The combined document: the first input's document, its root's children written out as text, and the top-level
/// nodes of the later inputs added as text after them. Only the first document's nodes outside the root stay
/// nodes.
class CombinedDocument {
public:
    /// Takes the first input's document, with the units that \a written wrote while it was parsed, if any. With
    /// \a unique, a later top-level node whose text is that of a node already there is left out. The root's
    /// children beyond a few megabytes go to a file in \a folder, when given.
    CombinedDocument(ParsedXml first, RootChildrenWriter* written, bool unique, const QString& folder = {});

    /// The root element, null when the first input did not parse.
    const xmlNode* root() const;

    /// What the writers of the later inputs need to know now; the same object as long as nothing of it changes.
    std::shared_ptr<const CombineTarget> target();

    /// What adding one input did.
    struct Added {
        qint64 added = 0;
        qint64 repeated = 0;
    };

    /// Adds the top-level nodes of a later input whose text was \a sourceSize bytes long: what \a written wrote
    /// ahead (may be null), then the children left under \a root, its root element, which are freed. Once the
    /// save has begun, they go on in its file; StopRequested is thrown between two blocks of them once \a stop is
    /// requested.
    Added add(RootChildrenWriter* written, xmlNode* root, qsizetype sourceSize, const std::stop_token& stop = {});

    /// Begins the save to \a path: the root's children go there as they come, instead of all at once at the end.
    /// A failure to write is told by save().
    void beginSave(const QString& path, const std::stop_token& stop = {});

    /// The entities that the nodes added last refer to and that keep an unresolved reference.
    QStringList unresolvedEntities() const { return m_unresolved; }

    /// Writes the document to \a path (the one given to beginSave(), if called); a document without a root writes
    /// nothing.
    void save(const QString& path, const std::stop_token& stop = {});

private:
    bool indentedNow() const { return m_indentable && !m_textLike; }
    void writeOut(const std::stop_token& stop);
    template <typename Saving> void onSave(const Saving& saving);
    void noteTextLike();
    bool isNew(const NodeHash& hash);
    bool addUnit(const ChunkedText& text, const NodeHash* hash);

    std::shared_ptr<xmlDoc> m_doc; // shared with the writers ahead, which may outlive this
    xmlNode* m_root = nullptr;
    bool m_hasDeclaration = false;
    bool m_unique = false;
    bool m_indentable = false; // the root's children are indented unless one is text-like
    bool m_textLike = false;
    bool m_hasChildren = false;
    QString m_folder;
    SplicedText m_children; // the root's children, as saveXmlDocument() writes them, not yet in the save
    // Once the save has begun: a copy of the document for it, which the writers ahead never see, and the save.
    XmlDocument m_savedDoc;
    std::optional<StreamedSave> m_save;
    std::exception_ptr m_saveFailure; // what ended the save early, told by save()
    std::optional<NodeMover> m_mover;
    NodeWriter m_writer;
    QStringList m_unresolved;
    struct HashKey {
        std::size_t operator()(const NodeHash& hash) const { return std::size_t(hash[0]); }
    };
    std::unordered_set<NodeHash, HashKey> m_seen;
    std::shared_ptr<const CombineTarget> m_target; // null once out of date
};

} // namespace corvanta
