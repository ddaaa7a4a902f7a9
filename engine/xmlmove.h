#pragma once

#include "xmldocument.h"

#include <QStringList>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace corvanta {

/// Moves nodes from other documents into one target document so that they stay whole after their old document
/// is freed: names and texts that live in the old document's dictionary are taken into the target's, every
/// namespace keeps its URI (declarations are added to the moved node where the new place lacks them, including
/// xmlns="" for a node in no namespace under a default namespace), and entity references keep their meaning:
/// a reference stays when the target declares its entity the same way; one to an internal entity that the target
/// does not is replaced by the entity's text; one to an external entity (whose text is never read) stays as it
/// is and is noted in unresolvedEntities(). A node from an xml:space="preserve" scope that lands outside one says
/// xml:space="preserve" itself.
class NodeMover {
public:
    explicit NodeMover(xmlDoc* target);

    /// Nodes are taken from \a source from now on; call it for every document, also when the pointer repeats.
    /// \a sourceSize, the length of the source's text, bounds how much entity text its nodes may expand to.
    void setSource(xmlDoc* source, qsizetype sourceSize);

    /// Appends \a node, with its attributes and descendants, as the last child of \a parent, an element of the
    /// target document. \a node must belong to the source document, which stays alive until the call returns.
    /// Returns the node's base name as the target now holds it (a replaced entity reference leaves its name).
    /// Throws Failure when its entity references would expand past the bound; nothing is moved then. Throws
    /// std::bad_alloc when memory runs out; the node is then in neither document (and is not freed: its strings
    /// may belong to either dictionary).
    std::string_view move(xmlNode* node, xmlNode* parent);

    /// Names of the entities that nodes moved from the current source refer to, that the target does not declare
    /// the same way and whose text is not at hand (external ones, or ones declared outside the source's text);
    /// each once, in the order met.
    const QStringList& unresolvedEntities() const { return m_unresolved; }

    /// The declarations in scope at \a element of the target, by prefix ("" for the default namespace).
    using NamespaceScope = std::unordered_map<std::string_view, xmlNs*>;

private:
    const xmlEntity* entityToExpand(const xmlNode* reference);
    std::vector<xmlNode*> expandEntities(xmlNode* node);
    void expandIn(xmlNode* first, bool inAttribute, std::vector<xmlNode*>& elements, const xmlNode* end = nullptr);
    xmlNode* expand(xmlNode* reference, const xmlEntity* entity, bool inAttribute);
    const xmlChar* keepName(const xmlChar* name);
    void moveExpanded(xmlNode* node, xmlNode* parent);
    const NamespaceScope& scopeAt(const xmlNode* element);
    void takeLeaf(xmlNode* leaf);
    void rehome(const xmlChar*& text);
    void rehome(xmlChar*& text);

    xmlDoc* m_target;
    xmlDict* m_sourceDict = nullptr;
    // Strings of the current source's dictionary met so far, with their shared copy in the target's once met again.
    std::unordered_map<const xmlChar*, const xmlChar*> m_strings;
    qsizetype m_expansionLeft = 0;
    QStringList m_unresolved;
    std::vector<XmlString> m_names; // names of replaced references when the target has no dictionary
    // Declarations are only ever added to moved nodes, never to the parents they move under or above, so a
    // parent's scope is gathered once; looking a prefix up along the ancestors for every moved node would make a
    // merge under many declarations quadratic.
    std::unordered_map<const xmlNode*, NamespaceScope> m_scopes;
};

} // namespace corvanta
