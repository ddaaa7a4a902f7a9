#include "engine/xml/xmlmove.h"

#include "engine/text/failure.h"

#include <algorithm>
#include <libxml/entities.h>
#include <libxml/valid.h>
#include <new>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace corvanta {

namespace {

bool declaresDefault(const xmlNode* element) {
    for (const xmlNs* ns = element->nsDef; ns; ns = ns->next)
        if (!ns->prefix)
            return true;
    return false;
}

// A declaration of prefix (null: the default namespace) for href on element, reusing one it already has. Only a
// subtree of a document that is not namespace-well-formed (an element named with an undeclared prefix, in no
// namespace) asks for two declarations of one prefix: that document fails once parsed whole, what is written of it
// never counts, and the first declaration stays (libxml2 would refuse a second one).
xmlNs* declare(xmlNode* element, const xmlChar* href, const xmlChar* prefix) {
    for (xmlNs* ns = element->nsDef; ns; ns = ns->next)
        if (xmlStrEqual(ns->prefix, prefix))
            return ns;
    xmlNs* ns = xmlNewNs(element, href, prefix);
    if (!ns)
        throw std::bad_alloc();
    return ns;
}

/// Namespace references of one moved subtree, mapped onto declarations that are in scope at its new place.
/// libxml2's xmlReconciliateNs would invent "default" prefixes for a default namespace and never writes
/// xmlns="", so the mapping is done here.
class NamespaceFixer {
public:
    NamespaceFixer(xmlNode* node, const NodeMover::NamespaceScope& scope)
        : m_node(node)
        , m_scope(scope) {
        const xmlNs* targetDefault = search(nullptr);
        m_targetHasDefault = targetDefault && targetDefault->href && *targetDefault->href;
    }

    /// Declarations made inside the subtree stay as they are; call for each element before resolving its refs.
    void enter(const xmlNode* element) {
        for (const xmlNs* ns = element->nsDef; ns; ns = ns->next)
            m_inner.insert(ns);
    }

    xmlNs* resolve(xmlNs* ns) {
        // The xml prefix is bound everywhere without a declaration.
        if (!ns || m_inner.count(ns) || xmlStrEqual(ns->prefix, xmlChars("xml")))
            return ns;
        if (const auto known = m_outer.find(ns); known != m_outer.end())
            return known->second;
        xmlNs* found = search(ns->prefix);
        if (!found || !xmlStrEqual(found->href, ns->href))
            found = declare(m_node, ns->href, ns->prefix);
        m_outer.emplace(ns, found);
        return found;
    }

    /// An element in no namespace whose default namespace came from outside the subtree.
    void noteUnqualified() { m_needsEmptyDefault = m_needsEmptyDefault || m_targetHasDefault; }

    void finish() {
        if (m_needsEmptyDefault)
            declare(m_node, xmlChars(""), nullptr);
    }

private:
    // The declaration of prefix in scope at the new place, as xmlSearchNs would find it.
    xmlNs* search(const xmlChar* prefix) const {
        const auto found = m_scope.find(prefix ? std::string_view(reinterpret_cast<const char*>(prefix)) : "");
        return found != m_scope.end() ? found->second : nullptr;
    }

    xmlNode* m_node;
    const NodeMover::NamespaceScope& m_scope;
    bool m_targetHasDefault = false;
    bool m_needsEmptyDefault = false;
    std::unordered_set<const xmlNs*> m_inner;
    std::unordered_map<const xmlNs*, xmlNs*> m_outer;
};

bool sameDeclaration(const xmlEntity* one, const xmlEntity* other) {
    if (one->etype != other->etype)
        return false;
    if (one->etype == XML_INTERNAL_GENERAL_ENTITY)
        return xmlStrEqual(one->content, other->content);
    return xmlStrEqual(one->SystemID, other->SystemID) && xmlStrEqual(one->ExternalID, other->ExternalID);
}

// Puts list (nodes in no tree) where node stands and frees node; nothing is merged, so no node of the list goes.
void replaceNode(xmlNode* node, XmlNodeList list) {
    xmlNode* parent = node->parent; // an element, or an attribute for a value's node: both link children alike
    xmlNode* first = list.release();
    if (!first) {
        xmlUnlinkNode(node);
        xmlFreeNode(node);
        return;
    }
    xmlNode* last = first;
    for (xmlNode* piece = first;; piece = piece->next) {
        piece->parent = parent;
        last = piece;
        if (!piece->next)
            break;
    }
    first->prev = node->prev;
    last->next = node->next;
    (node->prev ? node->prev->next : parent->children) = first;
    (node->next ? node->next->prev : parent->last) = last;
    node->prev = node->next = node->parent = nullptr;
    xmlFreeNode(node);
}

// An attribute value's white space is normalised to spaces, also where it comes from an entity's text.
void normaliseSpace(xmlNode* list) {
    for (xmlNode* piece = list; piece; piece = piece->next)
        if (piece->type == XML_TEXT_NODE && piece->content)
            for (xmlChar* c = piece->content; *c; ++c)
                if (*c == '\t' || *c == '\n' || *c == '\r')
                    *c = ' ';
}

} // namespace

NodeMover::NodeMover(const xmlDoc* target)
    : m_target(target) {}

void NodeMover::setSource(qsizetype sourceSize) {
    // The bound that newer libxml2 puts on its own entity expansion: a million bytes, or five times the input.
    m_expansionLeft = std::max<qsizetype>(1'000'000, 5 * sourceSize);
    m_unresolved.clear();
}

const xmlEntity* NodeMover::entityToExpand(const xmlNode* reference) {
    const xmlEntity* own = xmlGetDocEntity(reference->doc, reference->name);
    const xmlEntity* target = xmlGetDocEntity(m_target, reference->name);
    if (own && target && sameDeclaration(own, target))
        return nullptr;
    if (own && own->etype == XML_INTERNAL_GENERAL_ENTITY)
        return own;
    const QString name = QString::fromUtf8(reinterpret_cast<const char*>(reference->name));
    if (!m_unresolved.contains(name))
        m_unresolved.append(name);
    return nullptr;
}

xmlNode* NodeMover::expand(xmlNode* reference, const xmlEntity* entity, bool inAttribute) {
    m_expansionLeft -= entity->length;
    if (m_expansionLeft < 0)
        throw Failure(QStringLiteral("Cannot write out entity \"%1\" in a moved node: its text would grow past five "
                                     "times the size of its document.")
                          .arg(QString::fromUtf8(reinterpret_cast<const char*>(entity->name))));
    XmlNodeList text;
    const xmlChar* content = entity->content;
    if (!content || !*content) {
        // expands to nothing
    } else if (inAttribute) {
        // No markup can be in it (libxml2 refused the document otherwise), only text and references.
        text.reset(xmlStringGetNodeList(reference->doc, content));
        if (!text)
            throw std::bad_alloc();
        normaliseSpace(text.get());
    } else if (!xmlStrchr(content, '<') && !xmlStrchr(content, '&')) {
        text.reset(xmlNewDocTextLen(reference->doc, content, entity->length));
        if (!text)
            throw std::bad_alloc();
    } else {
        // Parsed where the reference stands, so that its elements see the namespaces in scope there.
        xmlNode* list = nullptr;
        const QuietLibxml2 quiet;
        const xmlParserErrors result = xmlParseInNodeContext(reference->parent, reinterpret_cast<const char*>(content),
                                                             entity->length, XML_PARSE_NONET, &list);
        text.reset(list);
        if (result != XML_ERR_OK)
            throw Failure(QStringLiteral("Cannot write out entity \"%1\" in a moved node: its text does not parse "
                                         "there.")
                              .arg(QString::fromUtf8(reinterpret_cast<const char*>(entity->name))));
    }
    xmlNode* next = reference->next;
    xmlNode* first = text.get();
    replaceNode(reference, std::move(text));
    return first ? first : next;
}

void NodeMover::expandIn(xmlNode* first, bool inAttribute, std::vector<xmlNode*>& elements, const xmlNode* end) {
    for (xmlNode* node = first; node && node != end;) {
        if (node->type == XML_ENTITY_REF_NODE) {
            if (const xmlEntity* entity = entityToExpand(node)) {
                node = expand(node, entity, inAttribute); // the entity's text may hold references in turn
                continue;
            }
        } else if (node->type == XML_ELEMENT_NODE) {
            elements.push_back(node);
        }
        node = node->next;
    }
}

// Replaces the entity references at and below node that cannot stay as they are (see the class). Returns the
// nodes that now stand where node stood: node itself unless it was such a reference.
std::vector<xmlNode*> NodeMover::expandEntities(xmlNode* node) {
    xmlNode* parent = node->parent;
    xmlNode* before = node->prev;
    const xmlNode* end = node->next;
    std::vector<xmlNode*> elements;
    expandIn(node, false, elements, end);
    while (!elements.empty()) {
        xmlNode* element = elements.back();
        elements.pop_back();
        for (xmlAttr* attr = element->properties; attr; attr = attr->next)
            expandIn(attr->children, true, elements);
        expandIn(element->children, false, elements);
    }
    std::vector<xmlNode*> pieces;
    for (xmlNode* piece = before ? before->next : parent->children; piece != end; piece = piece->next)
        pieces.push_back(piece);
    return pieces;
}

const NodeMover::NamespaceScope& NodeMover::scopeAt(const xmlNode* element) {
    auto [entry, fresh] = m_scopes.try_emplace(element);
    if (fresh) {
        // Innermost first: a declaration shadows those of the same prefix further out.
        for (const xmlNode* at = element; at && at->type == XML_ELEMENT_NODE; at = at->parent)
            for (xmlNs* ns = at->nsDef; ns; ns = ns->next)
                entry->second.try_emplace(ns->prefix ? std::string_view(reinterpret_cast<const char*>(ns->prefix)) : "",
                                          ns);
    }
    return entry->second;
}

TakenNodes NodeMover::take(xmlNode* node, const xmlNode* parent) {
    TakenNodes taken;
    const bool replaced = node->type == XML_ENTITY_REF_NODE && entityToExpand(node);
    if (replaced) // the reference goes with its expansion, and its name may go with it
        m_replacedName.assign(reinterpret_cast<const char*>(node->name));
    xmlNode* last = nullptr;
    for (xmlNode* piece : expandEntities(node)) {
        adapt(piece, parent);
        // Linked by hand: libxml2 would merge neighbouring text, which the writer does not need.
        if (last) {
            last->next = piece;
            piece->prev = last;
        } else {
            taken.nodes.reset(piece);
        }
        last = piece;
    }
    taken.name = replaced ? std::string_view(m_replacedName) : baseName(node);
    return taken;
}

void NodeMover::adapt(xmlNode* node, const xmlNode* parent) {
    // White space kept in an xml:space="preserve" scope stays significant at a place outside such a scope.
    const bool keepsSpace =
        node->type == XML_ELEMENT_NODE && xmlNodeGetSpacePreserve(node) == 1 && xmlNodeGetSpacePreserve(parent) != 1;
    xmlUnlinkNode(node);
    if (node->type != XML_ELEMENT_NODE)
        return;
    NamespaceFixer namespaces(node, scopeAt(parent));

    // A work list instead of recursion; the inherited flag tells whether a default namespace is declared
    // inside the subtree above the element.
    struct Pending {
        xmlNode* element;
        bool innerDefault;
    };
    std::vector<Pending> pending{{node, false}};
    while (!pending.empty()) {
        const Pending current = pending.back();
        pending.pop_back();
        xmlNode* element = current.element;
        const bool innerDefault = current.innerDefault || declaresDefault(element);
        namespaces.enter(element);
        element->ns = namespaces.resolve(element->ns);
        if (!element->ns && !innerDefault)
            namespaces.noteUnqualified();
        for (xmlAttr* attr = element->properties; attr; attr = attr->next)
            attr->ns = namespaces.resolve(attr->ns);
        for (xmlNode* child = element->children; child; child = child->next)
            if (child->type == XML_ELEMENT_NODE)
                pending.push_back({child, innerDefault});
    }
    namespaces.finish();
    if (keepsSpace)
        xmlNodeSetSpacePreserve(node, 1);
}

} // namespace corvanta
