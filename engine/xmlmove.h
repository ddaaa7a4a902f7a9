#pragma once

#include "xmldocument.h"

#include <string_view>
#include <unordered_map>

namespace corvanta {

/// Moves nodes from other documents into one target document so that they stay whole after their old document
/// is freed: names and texts that live in the old document's dictionary are taken into the target's, every
/// namespace keeps its URI (declarations are added to the moved node where the new place lacks them, including
/// xmlns="" for a node in no namespace under a default namespace), and entity references point to the target's
/// declarations.
class NodeMover {
public:
    explicit NodeMover(xmlDoc* target);

    /// Nodes are taken from \a source from now on; call it for every document, also when the pointer repeats.
    void setSource(xmlDoc* source);

    /// Appends \a node, with its attributes and descendants, as the last child of \a parent, an element of the
    /// target document. \a node must belong to the source document, which stays alive until the call returns.
    /// Throws std::bad_alloc when memory runs out; the node is then in neither document (and is not freed: its
    /// strings may belong to either dictionary).
    void move(xmlNode* node, xmlNode* parent);

    /// The declarations in scope at \a element of the target, by prefix ("" for the default namespace).
    using NamespaceScope = std::unordered_map<std::string_view, xmlNs*>;

private:
    const NamespaceScope& scopeAt(const xmlNode* element);
    void takeLeaf(xmlNode* leaf);
    void rehome(const xmlChar*& text);
    void rehome(xmlChar*& text);

    xmlDoc* m_target;
    xmlDict* m_sourceDict = nullptr;
    // Strings of the current source's dictionary met so far, with their shared copy in the target's once met again.
    std::unordered_map<const xmlChar*, const xmlChar*> m_strings;
    // Declarations are only ever added to moved nodes, never to the parents they move under or above, so a
    // parent's scope is gathered once; looking a prefix up along the ancestors for every moved node would make a
    // merge under many declarations quadratic.
    std::unordered_map<const xmlNode*, NamespaceScope> m_scopes;
};

} // namespace corvanta
