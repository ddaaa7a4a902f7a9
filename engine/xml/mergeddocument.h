#pragma once

#include "engine/xml/rootchildrenreader.h"
#include "engine/xml/xmlmove.h"
#include "engine/xml/xmlparser.h"
#include "engine/xml/xmlsave.h"

#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <shared_mutex>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace corvanta {

/// The base names under each top-level node of the merged document. The merging thread adds to them and asks
/// has(); the parsers of the inputs ahead ask contains() at the same time from their own threads.
/// Invariant: only the merging thread changes anything, and it changes m_sets only under the unique lock; so its
/// own reads need no lock, and the parsers' reads take the shared one. m_pending is the merging thread's alone.
class MergedNames final : public SkippableNames {
public:
    bool contains(qsizetype topIndex, std::string_view name) const override;

    // The rest is for the merging thread, the only one that changes anything: its reads need no lock.
    void resize(qsizetype count);
    bool has(qsizetype topIndex, std::string_view name) const;
    /// Adds a copy of \a name under top-level node \a topIndex and returns the copy, which lives as long as this.
    /// contains() learns it once published.
    std::string_view insert(qsizetype topIndex, std::string_view name);
    /// Lets contains() know every name inserted so far, unless a parser is asking right now: they are then told
    /// at a later call. contains() answering false for a while costs only an element written for nothing.
    void publish();

private:
    mutable std::shared_mutex m_mutex;
    std::vector<QSet<QByteArrayView>> m_sets;
    // Names inserted since the last publish(), kept apart so that an insert takes no lock: a writer waiting for
    // two parsers that keep asking would stall the merge.
    std::vector<QSet<QByteArrayView>> m_pending;
    qsizetype m_pendingCount = 0;
    std::pmr::monotonic_buffer_resource m_kept; // the bytes of the names the sets view, which never move
};

/// What a parsing thread needs to know of the merged document to write a later input's second-level elements as
/// the merged document will hold them. Invariant: immutable once published, and it shares no node with the
/// merged document: doc is a copy of the first document's document type, root and top-level elements (their
/// attributes and namespace declarations, none of their children), made on the merging thread before any writer
/// sees it and read by the writers only. The merging thread frees and writes the children of its own top-level
/// elements meanwhile without any lock.
///
/// A provisional target is announced while the first document is still being read, from the start tags of its root
/// and of the top-level elements read so far: it knows only the namespaces in scope there, and takes every
/// top-level element's children to be indented (a merge rewrites what turns out not to be).
struct WriteAheadTarget {
    struct Top {
        const xmlNode* node = nullptr; // in doc; null when the first document's node there is no element
        bool indented = false;         // how its children are written now
    };
    std::shared_ptr<const xmlDoc> doc;
    std::vector<Top> tops;
    bool provisional = false;

    /// Whether it tells what to write under top-level node \a topIndex: a provisional one knows only the
    /// top-level elements announced so far.
    bool covers(qsizetype topIndex) const {
        return !provisional || (topIndex >= 0 && topIndex < qsizetype(tops.size()) && tops[std::size_t(topIndex)].node);
    }
};

/// Writes the second-level elements of one later input as they are parsed, on the parsing thread, as children of
/// the first document's top-level element at the same place; the merge then appends each or drops it in its turn.
/// So a later input is never held as a tree, only as the text of what it might add.
class AheadWriter final : public ElementTaker, public TopChildrenSink {
public:
    /// Tells what to write for under top-level node \a topIndex, once known: a target that covers it, waiting for
    /// one; null when the elements are to stay nodes.
    using TargetSource = std::function<std::shared_ptr<const WriteAheadTarget>(qsizetype topIndex)>;

    /// For an input whose text is \a sourceSize bytes long. Until \a source knows the target, the elements stay
    /// in the document, and the merge moves them as nodes. What is written beyond a megabyte goes to a file in
    /// \a folder, when given.
    AheadWriter(TargetSource source, qsizetype sourceSize, const QString& folder = {});
    AheadWriter(std::shared_ptr<const WriteAheadTarget> target, qsizetype sourceSize, const QString& folder = {});

    bool take(qsizetype topIndex, xmlNode* element) override;
    void forget() override;
    /// The elements are taken from the text under a top-level element whose namespaces in scope are those of the
    /// first document's there, the same way: nothing about them then changes with their place.
    TopChildrenSink* topSink() override { return this; }
    bool beginTop(qsizetype topIndex, std::span<const NamespaceDeclaration> rootDeclarations,
                  std::span<const NamespaceDeclaration> topDeclarations) override;
    bool add(qsizetype topIndex, const RecordedNode& element, std::string_view keptName) override;

    // For the merging thread, once the parse is over; the elements come in the order taken.
    /// Whether the next element was written with indentation.
    bool nextIndented() const { return m_written.at(m_next).indented; }
    /// Appends the next element's text to \a into.
    void moveNext(ChunkedText& into);
    /// Appends the next element's text to \a into, where it may stay in this writer's file.
    void moveNext(SplicedText& into);
    /// Passes over the next element, which stays behind.
    void dropNext() { m_nextStart += m_written.at(m_next++).length; }

private:
    // One per element: a large input has millions.
    struct Written {
        qsizetype length;
        bool indented;
    };

    const Written& takeNext();
    const WriteAheadTarget::Top* topAt(qsizetype topIndex);

    TargetSource m_source;
    qsizetype m_sourceSize;
    QString m_folder;
    std::shared_ptr<const WriteAheadTarget> m_target;
    std::optional<NodeMover> m_mover;
    NodeWriter m_writer;
    SpillingText m_text;
    std::vector<Written> m_written;
    std::size_t m_next = 0;
    qsizetype m_nextStart = 0; // where the next element starts in m_text
    qsizetype m_position = 0;  // where the merge reads m_text next
};

/// Writes the first input's second-level elements as they are parsed, as the merged document holds them, so that
/// the first document never needs to be held whole as nodes either. Only elements that lead their top-level
/// element's children are taken, so that whatever stays comes after them; and only on the guess that nothing
/// turns indentation off there, which fits() checks once the document is parsed.
class FirstChildrenWriter final : public ElementTaker, public TopChildrenSink {
public:
    /// Hears of a provisional target each time the text shows one more top-level element with elements below it.
    using Announce = std::function<void(std::shared_ptr<const WriteAheadTarget>)>;

    /// What is written beyond a megabyte per top-level element goes to a file in \a folder, when given.
    /// \a announce, when given, hears of the top-level elements as the text is read.
    explicit FirstChildrenWriter(QString folder = {}, Announce announce = {})
        : m_folder(std::move(folder))
        , m_announce(std::move(announce)) {}

    bool take(qsizetype topIndex, xmlNode* element) override;
    bool fits(const xmlNode* root) const override;
    void forget() override { m_tops.clear(); }
    /// The leading elements are taken from the text, where the reader makes sure that what fits() checks holds.
    TopChildrenSink* topSink() override { return this; }
    bool beginTop(qsizetype topIndex, std::span<const NamespaceDeclaration> rootDeclarations,
                  std::span<const NamespaceDeclaration> topDeclarations) override;
    bool add(qsizetype topIndex, const RecordedNode& element, std::string_view keptName) override;
    bool leadingOnly() const override { return true; }

private:
    friend class MergedDocument;
    struct Top {
        SplicedText children;
        std::vector<std::string_view> names; // in the document's dictionary or names
    };
    Top& topAt(qsizetype topIndex);
    std::shared_ptr<const WriteAheadTarget> provisionalTarget() const;

    using Declarations = std::vector<std::pair<std::string, std::string>>; // prefix, namespace name
    QString m_folder;
    Announce m_announce;
    Declarations m_rootDeclarations;
    std::vector<std::optional<Declarations>> m_announced; // by top-level index, once announced
    std::vector<Top> m_tops;                              // by top-level index
    NodeWriter m_writer;
};

/// The merged document: the first input's document without the children of its top-level elements, which are
/// written out as text as soon as they are known, the first document's own at once and every merged node as it
/// comes. So the result takes about the room of its text, instead of a tree that takes many times that, and
/// saving it is writing that text out. Given a folder, that text goes on in files there beyond a few megabytes per
/// top-level element, so that memory stays bounded whatever the size of the result.
class MergedDocument {
public:
    /// Takes the first input's document, with the children that \a written wrote while it was parsed, if any;
    /// \a names learns the base names under each of its top-level nodes. writeFirstChildren() must come next,
    /// before anything is added.
    MergedDocument(ParsedXml base, MergedNames& names, FirstChildrenWriter* written = nullptr,
                   const QString& folder = {});

    /// Writes out the children of the first document's top-level elements, and frees them. Throws StopRequested
    /// between two children once \a stop is requested.
    void writeFirstChildren(const std::stop_token& stop = {});

    /// NodeExists: true when top-level node \a topIndex already has a child of base name \a name.
    bool nodeExists(qsizetype topIndex, std::string_view name) const { return m_names.has(topIndex, name); }

    /// Nodes come from a new document, whose text was \a sourceSize bytes long, from now on.
    void takeNodesFrom(qsizetype sourceSize);

    /// The entities that the nodes taken from the current source refer to and that keep an unresolved reference.
    QStringList unresolvedEntities() const { return m_mover ? m_mover->unresolvedEntities() : QStringList(); }

    /// Adds \a node, which it unlinks from its document and frees, as the last child of top-level node
    /// \a topIndex, and returns its base name as added (a replaced entity reference leaves its name).
    std::string_view append(qsizetype topIndex, xmlNode* node);

    /// Adds the next element that \a from wrote ahead, whose base name is \a name, as the last child of
    /// top-level node \a topIndex, and returns the name as added.
    std::string_view appendWritten(qsizetype topIndex, std::string_view name, AheadWriter& from);

    /// What the writers ahead need to know now; the same object as long as nothing of it changes.
    std::shared_ptr<const WriteAheadTarget> writeAheadTarget();

    /// Writes the document to \a path; a document without a root writes nothing. Once \a stop is requested, throws
    /// StopRequested and leaves no file.
    void save(const QString& path, const std::stop_token& stop = {});

private:
    struct Top {
        xmlNode* node = nullptr;
        bool hasChildren = false;
        bool textLikeChild = false;
        bool indentable = false; // its children are indented unless one is text-like
        SplicedText children;    // written as saveXmlDocument() writes them
    };

    void makeSkeleton();
    void write(Top& top, xmlNode* child);
    void unindent(Top& top);
    void writeUnindented(const Top& top, const ChunkedText& written, SplicedText& into);

    std::shared_ptr<xmlDoc> m_doc;            // the merging thread's alone: the writers ahead read m_skeleton
    std::shared_ptr<const xmlDoc> m_skeleton; // see WriteAheadTarget; made once, never changed
    QString m_folder;
    std::vector<const xmlNode*> m_skeletonTops;
    bool m_hasDeclaration;
    MergedNames& m_names;
    std::vector<Top> m_tops;
    std::optional<NodeMover> m_mover;
    NodeWriter m_writer;
    std::shared_ptr<const WriteAheadTarget> m_aheadTarget; // null once out of date
};

/// Appends the nodes in \a written, written with indentation by \a writer as children of \a parent (an element
/// of \a doc), to \a into as they are written without it: read back in \a parent's namespaces and \a doc's
/// entities, and written again.
void writeWithoutIndentation(const xmlDoc* doc, const xmlNode* parent, const ChunkedText& written, ChunkedText& into,
                             NodeWriter& writer);

} // namespace corvanta
