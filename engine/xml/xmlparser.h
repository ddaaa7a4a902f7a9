#pragma once

#include "engine/xml/xmldocument.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QSet>
#include <QString>
#include <functional>
#include <memory>
#include <memory_resource>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace corvanta {

/// Why a text did not parse, with libxml2's 1-based line and column.
struct XmlParseError {
    QString reason;
    int line = 0;
    int column = 0;
};

/// A second-level element that the parser left out: SkippableNames named it, or an ElementTaker took it.
struct LeftOutElement {
    /// Its top-level node's place among the root's children, counting every kind of node.
    qsizetype topIndex = 0;
    /// How many of the siblings built before it have a base name (see baseName()).
    qsizetype namedBefore = 0;
    /// Its local name; it lives in the document's dictionary, as long as the document.
    std::string_view name;
    /// True when an ElementTaker took it, false when SkippableNames named it.
    bool taken = false;
};

/// A copy of \a name in \a memory, which keeps it where it is as long as it lasts.
std::string_view copyName(std::pmr::memory_resource& memory, std::string_view name);

/// Names kept once each, found without making a string. They lie in blocks that go all at once, so that a
/// document of millions of distinct names is freed in a moment; a name kept stays where it is as long as this,
/// moved or not.
class KeptNames {
public:
    std::string_view keep(std::string_view name);

private:
    std::unique_ptr<std::pmr::monotonic_buffer_resource> m_memory; // made with the first name
    QSet<QByteArrayView> m_names;                                  // each viewing its bytes in m_memory
};

/// One input loaded as Merge loads it.
struct ParsedXml {
    /// Null when the text did not parse; the document then has no root.
    XmlDocument doc;
    /// True when the text starts with an XML declaration.
    bool hasDeclaration = false;
    /// Set when doc is null.
    XmlParseError error;
    /// The elements left out of doc, in document order; empty when doc is null.
    std::vector<LeftOutElement> leftOut;
    /// The names leftOut views where doc's dictionary does not hold them (a text read without libxml2's nodes).
    KeptNames names;
};

/// Second-level element names that a merge would leave behind; the parser of a later input need not build them.
/// Asked from the thread that parses, while the merge may add names: an answer may only ever change to true.
class SkippableNames {
public:
    virtual ~SkippableNames() = default;
    /// True when an element of local name \a name under top-level node \a topIndex (counting every kind of
    /// node) would stay behind.
    virtual bool contains(qsizetype topIndex, std::string_view name) const = 0;
};

class RootChildrenSink;
class TopChildrenSink;

/// Takes the second-level elements of a document out as soon as each is complete, on the thread that parses it,
/// so that they never need to be kept as nodes.
class ElementTaker {
public:
    virtual ~ElementTaker() = default;
    /// Called for second-level element \a element, under top-level node \a topIndex (counting every kind of node),
    /// once it is complete and its white space is dropped as in the finished document; its ancestors are still
    /// there. Returns true when it took the element: unlinked it and freed it. Returns false to leave it in place.
    virtual bool take(qsizetype topIndex, xmlNode* element) = 0;
    /// Whether what it took still stands as taken in the finished document whose root element is \a root;
    /// when not, the document is parsed again.
    virtual bool fits(const xmlNode* /*root*/) const { return true; }
    /// Forgets every element taken: the document is parsed again from its start, and nothing is taken then.
    virtual void forget() = 0;
    /// When true, the taker is offered the root's children instead: each time a child element of the root is
    /// complete, the root's children from the first on, that element last, until take() leaves one in place.
    /// What it takes is never listed in leftOut; the nodes it leaves follow in the finished document. Blank text
    /// directly under the root is dropped once it has taken something. \a topIndex counts the nodes it took.
    virtual bool takesRootChildren() const { return false; }
    /// Where a taker of the root's children takes them from the text itself, without libxml2's nodes; null when it
    /// cannot. parseXml() then reads the text with Expat first (see readRootChildren()), and parses it with
    /// libxml2 only when Expat cannot tell what libxml2 would.
    virtual RootChildrenSink* textSink() { return nullptr; }
    /// Where a taker of the top-level elements' children takes them from the text itself; null when it cannot.
    /// parseXml() then reads the text with Expat first (see readTopChildren()).
    virtual TopChildrenSink* topSink() { return nullptr; }
};

/// Sets libxml2 up for the whole process, once. Its own set-up is not safe on two threads at once: call this
/// before a second thread uses libxml2. parseXml() calls it too.
void setUpLibxml2();

/// Parses \a text (UTF-8, a leading byte-order mark ignored; the declaration's encoding does not change the
/// decoding) as the document at \a path, which only names it.
/// Nothing outside the text is ever read: no external DTD subset, no external parameter or general entity, no
/// XInclude, whatever the path or scheme. Entity references stay references and libxml2's limits on depth, sizes
/// and entity expansion stay in force. A document whose internal subset is its whole DTD is validated, and one
/// that does not conform fails; one whose DTD reaches outside the text is parsed without validation.
/// Whitespace-only text is dropped as dropBlankText() says.
/// Each document gets its own dictionary: libxml2 2.9's dictionary slows down once it holds a few hundred
/// thousand names, so one dictionary shared by all inputs would make a merge of many distinct names quadratic.
/// Once \a stop is requested, a parse in progress ends at its next block of text as if the text ended there.
/// Second-level elements that \a skippable names are left out of a document without a document type: the result
/// then holds every other node as it would, and the same messages, and lists in leftOut what it left out. So are
/// the second-level elements that \a taker takes; an exception from it ends the parse and is thrown here.
ParsedXml parseXml(QByteArray text, const QString& path, const std::stop_token& stop = {},
                   const SkippableNames* skippable = nullptr, ElementTaker* taker = nullptr);

/// Gives the next piece of a text, or an empty view once it has ended; a view stays valid until the next call.
using TextPieces = std::function<QByteArrayView()>;

/// Gives a text's pieces from its start, each time it is called: a document that must be parsed again is read
/// again, so that no pass holds the whole text.
using TextOpener = std::function<TextPieces()>;

/// parseXml() of the text that \a open gives; whatever the pieces throw ends the parse and is thrown here.
ParsedXml parseXml(const TextOpener& open, const QString& path, const std::stop_token& stop = {},
                   const SkippableNames* skippable = nullptr, ElementTaker* taker = nullptr);

/// What parseXml() would tell of a document's root, learnt without keeping its nodes.
struct XmlOutline {
    enum class Result {
        Read,          ///< well-formed: root and topLevelNodes are set
        NotWellFormed, ///< error is set
        NeedsTree,     ///< only parseXml() can tell (see outlineXml())
    };
    Result result = Result::NeedsTree;
    XmlParseError error;
    /// The root's base name (see baseName()).
    QString root;
    /// The root's namespace name; empty when it has none.
    QString rootNamespace;
    /// childCount() of the root parseXml() would build.
    qsizetype topLevelNodes = 0;
};

/// Reads the text that \a pieces hands out as parseXml() would parse it (same decoding, options and messages),
/// keeping no more than the root and its last top-level nodes, whatever the size of the text. Gives NeedsTree where
/// the answer depends on nodes it does not keep: for a document with a document type (validation, entities), and
/// for a document that fails after an xml:id attribute (libxml2 reports a repeated ID, and may report it first).
/// Once \a stop is requested it ends at its next piece; its answer then means nothing.
XmlOutline outlineXml(const TextPieces& pieces, const QString& path, const std::stop_token& stop = {});

} // namespace corvanta
