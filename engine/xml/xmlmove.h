#pragma once

#include "engine/xml/xmldocument.h"

#include <QStringList>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace corvanta {

/// The nodes that stand for one node taken from a source document; see NodeMover::take().
struct TakenNodes {
    /// A list of siblings in no tree, still of the source document, which must outlive it.
    XmlNodeList nodes;
    /// The base name the node had (a replaced entity reference leaves its name); valid while nodes and the
    /// source document are, and until the next take().
    std::string_view name;
};

/// Takes nodes out of other documents and makes each ready to be written as a child of an element of one target
/// document, without moving it there: every namespace keeps its URI (declarations are added to the node where the
/// new place lacks them, including xmlns="" for a node in no namespace under a default namespace), and entity
/// references keep their meaning: a reference stays when the target declares its entity the same way; one to an
/// internal entity that the target does not is replaced by the entity's text; one to an external entity (whose
/// text is never read) stays as it is and is noted in unresolvedEntities(). A node from an xml:space="preserve"
/// scope that lands outside one says xml:space="preserve" itself.
/// The nodes stay in their own document, so that nothing of it (names, texts, declarations) needs copying: the
/// caller writes them out and frees them before the source document goes.
class NodeMover {
public:
    explicit NodeMover(const xmlDoc* target);

    /// Nodes are taken from a new source document from now on; \a sourceSize, the length of its text, bounds how
    /// much entity text its nodes may expand to.
    void setSource(qsizetype sourceSize);

    /// Unlinks \a node from its document and returns what would stand for it as the last children of \a parent,
    /// an element of the target document. Throws Failure when its entity references would expand past the bound;
    /// nothing is taken then. Throws std::bad_alloc when memory runs out.
    TakenNodes take(xmlNode* node, const xmlNode* parent);

    /// Names of the entities that nodes taken from the current source refer to, that the target does not declare
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
    void adapt(xmlNode* node, const xmlNode* parent);
    const NamespaceScope& scopeAt(const xmlNode* element);

    const xmlDoc* m_target;
    qsizetype m_expansionLeft = 0;
    QStringList m_unresolved;
    std::string m_replacedName;
    // Declarations are only ever added to taken nodes, never to the target, so a parent's scope is gathered
    // once; looking a prefix up along the ancestors for every node would make a merge under many declarations
    // quadratic.
    std::unordered_map<const xmlNode*, NamespaceScope> m_scopes;
};

} // namespace corvanta
