#pragma once

#include "engine/xml/xmlparser.h"

#include <optional>
#include <span>
#include <stop_token>
#include <string_view>

namespace corvanta {

class RecordedNode;

/// A namespace declaration as written; the prefix is empty for the default namespace.
struct NamespaceDeclaration {
    std::string_view prefix;
    std::string_view uri;
};

/// An element as a start tag read from text makes it, appended to \a parent in \a doc (as its root when \a parent
/// is null): its name, the namespace of its prefix when \a declarations declare it, and its declarations; all that
/// a node written below it reads of it. Throws std::bad_alloc.
xmlNode* elementFromStartTag(xmlDoc* doc, xmlNode* parent, std::string_view qualifiedName,
                             std::span<const NamespaceDeclaration> declarations);

/// Takes the children of a document's root from a reader that writes them without libxml2's nodes.
class RootChildrenSink {
public:
    virtual ~RootChildrenSink() = default;
    /// Called once, before the root's first child, blank text included, with the root's name as written and its
    /// namespace declarations. False when its children cannot be written from their text alone: libxml2 is then
    /// to parse the document.
    virtual bool begin(std::string_view rootName, std::span<const NamespaceDeclaration> rootDeclarations) = 0;
    /// One child of the root, complete, blank text included (parseXml() drops it where the root holds no text of
    /// its own). False when it cannot be written from its text alone: libxml2 is then to parse the document.
    virtual bool add(const RecordedNode& node) = 0;
    /// False when only what kind of node each child is matters: an element then comes without its attributes
    /// and content, which are never kept, so that an element of any size costs nothing.
    virtual bool wantsWholeNodes() const { return true; }
};

/// Reads the text that \a open gives with Expat, which reads it several times faster than libxml2 builds it, and
/// gives \a sink each child of the root as parseXml() would hand it to a taker of the root's children. Returns what
/// parseXml() of \a path would: the document, whose root then has no children, and whether the text starts with a
/// declaration. Returns nothing when only libxml2 can tell the outcome, and \a sink is then to forget what it took:
/// a text that is not well-formed (libxml2 tells why, with its own words), a document type, xml:space, a namespace
/// declaration or name that libxml2 refuses or reads otherwise, and anything near one of libxml2's limits (depth,
/// lengths, attributes per element), so that both parsers accept exactly the same documents. Whatever \a open's
/// pieces or \a sink throw ends the read and is thrown here; once \a stop is requested the read ends at its next
/// piece with a document that means nothing.
std::optional<ParsedXml> readRootChildren(const TextOpener& open, const QString& path, const std::stop_token& stop,
                                          RootChildrenSink& sink);

/// Takes the children of a document's top-level elements from a reader that writes them without libxml2's nodes.
class TopChildrenSink {
public:
    virtual ~TopChildrenSink() = default;
    /// Called before the first element under the top-level node at \a topIndex (counting every kind of node), with
    /// the namespace declarations of the root and of that node. False when its elements cannot be written from
    /// their text alone: libxml2 is then to parse the document.
    virtual bool beginTop(qsizetype topIndex, std::span<const NamespaceDeclaration> rootDeclarations,
                          std::span<const NamespaceDeclaration> topDeclarations) = 0;
    /// One element under the top-level node at \a topIndex, complete, and its local name as the document read
    /// keeps it (see ParsedXml::names). False as for beginTop().
    virtual bool add(qsizetype topIndex, const RecordedNode& element, std::string_view keptName) = 0;
    /// When true, only the elements that lead a top-level element's children are handed on, and whatever follows
    /// the first other node there (but blank text) stays in the document, as parseXml() builds it: for a first
    /// document, which keeps every node.
    virtual bool leadingOnly() const { return false; }
};

/// As readRootChildren(), but hands \a sink the elements under the top-level elements, as parseXml() would hand
/// them to an ElementTaker, and leaves out those that \a skippable names. The document it returns holds the root
/// and its top-level nodes without their children; leftOut lists every element under them, each as written or
/// left out. A document with text beside its top-level elements (other than blank) is left to libxml2.
std::optional<ParsedXml> readTopChildren(const TextOpener& open, const QString& path, const std::stop_token& stop,
                                         const SkippableNames* skippable, TopChildrenSink& sink);

} // namespace corvanta
