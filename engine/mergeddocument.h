#pragma once

#include "xmlmove.h"
#include "xmlparser.h"
#include "xmlsave.h"

#include <QString>
#include <deque>
#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace corvanta {

/// The base names under each top-level node of the merged document. The merging thread adds to them and asks
/// has(); the parsers of the inputs ahead ask contains() at the same time from their own threads.
class MergedNames final : public SkippableNames {
public:
    bool contains(qsizetype topIndex, std::string_view name) const override;

    // The rest is for the merging thread, the only one that changes anything: its reads need no lock.
    void resize(qsizetype count);
    bool has(qsizetype topIndex, std::string_view name) const;
    /// Adds a copy of \a name under top-level node \a topIndex and returns the copy, which lives as long as this.
    /// contains() learns it once published.
    std::string_view insert(qsizetype topIndex, std::string_view name);
    /// Lets contains() know every name inserted so far.
    void publish();

private:
    mutable std::shared_mutex m_mutex;
    std::vector<std::unordered_set<std::string_view>> m_sets;
    // Names inserted since the last publish(), kept apart so that an insert takes no lock: a writer waiting for
    // two parsers that keep asking would stall the merge.
    std::vector<std::unordered_set<std::string_view>> m_pending;
    qsizetype m_pendingCount = 0;
    std::deque<std::string> m_kept; // the names the sets view; a deque never moves them
};

/// The merged document: the first input's document without the children of its top-level elements, which are
/// written out as text as soon as they are known, the first document's own at once and every merged node as it
/// comes. So the result takes about the room of its text, instead of a tree that takes many times that, and
/// saving it is writing that text out.
class MergedDocument {
public:
    /// Takes the first input's document; \a names learns the base names under each of its top-level nodes.
    MergedDocument(ParsedXml base, MergedNames& names);

    /// NodeExists: true when top-level node \a topIndex already has a child of base name \a name.
    bool nodeExists(qsizetype topIndex, std::string_view name) const { return m_names.has(topIndex, name); }

    /// Nodes come from a new document, whose text was \a sourceSize bytes long, from now on.
    void takeNodesFrom(qsizetype sourceSize);

    /// The entities that the nodes taken from the current source refer to and that keep an unresolved reference.
    QStringList unresolvedEntities() const { return m_mover ? m_mover->unresolvedEntities() : QStringList(); }

    /// Adds \a node, which it unlinks from its document and frees, as the last child of top-level node
    /// \a topIndex, and returns its base name as added (a replaced entity reference leaves its name).
    std::string_view append(qsizetype topIndex, xmlNode* node);

    /// Writes the document to \a path; a document without a root writes nothing.
    void save(const QString& path);

private:
    struct Top {
        xmlNode* node = nullptr;
        bool hasChildren = false;
        bool textLikeChild = false;
        bool indentable = false; // its children are indented unless one is text-like
        ChunkedText children;    // written as saveXmlDocument() writes them
    };

    void write(Top& top, xmlNode* child);
    void unindent(Top& top);
    QByteArray siblingsAsDocument(const Top& top) const;

    XmlDocument m_doc;
    bool m_hasDeclaration;
    MergedNames& m_names;
    std::vector<Top> m_tops;
    std::optional<NodeMover> m_mover;
    NodeWriter m_writer;
};

} // namespace corvanta
