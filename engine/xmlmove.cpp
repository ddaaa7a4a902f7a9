#include "xmlmove.h"

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

// A declaration of prefix (null: the default namespace) for href on element, reusing one it already has.
xmlNs* declare(xmlNode* element, const xmlChar* href, const xmlChar* prefix) {
    for (xmlNs* ns = element->nsDef; ns; ns = ns->next)
        if (xmlStrEqual(ns->prefix, prefix) && xmlStrEqual(ns->href, href))
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
    NamespaceFixer(xmlDoc* target, xmlNode* node, xmlNode* parent, const NodeMover::NamespaceScope& scope)
        : m_target(target)
        , m_node(node)
        , m_parent(parent)
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
        if (!ns || m_inner.count(ns))
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
        if (found != m_scope.end())
            return found->second;
        // The xml prefix is bound without a declaration; libxml2 supplies one.
        return xmlStrEqual(prefix, xmlChars("xml")) ? xmlSearchNs(m_target, m_parent, prefix) : nullptr;
    }

    xmlDoc* m_target;
    xmlNode* m_node;
    xmlNode* m_parent;
    const NodeMover::NamespaceScope& m_scope;
    bool m_targetHasDefault = false;
    bool m_needsEmptyDefault = false;
    std::unordered_set<const xmlNs*> m_inner;
    std::unordered_map<const xmlNs*, xmlNs*> m_outer;
};

} // namespace

NodeMover::NodeMover(xmlDoc* target)
    : m_target(target) {
    // The target's dictionary now only grows by names taken over from inputs that already passed the parser's
    // own limits.
    if (m_target->dict)
        xmlDictSetLimit(m_target->dict, 0);
}

void NodeMover::setSource(xmlDoc* source) {
    m_sourceDict = source ? source->dict : nullptr;
    m_strings.clear();
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

void NodeMover::rehome(const xmlChar*& text) {
    if (!text || !m_sourceDict || xmlDictOwns(m_sourceDict, text) != 1)
        return;
    // A string met for the first time gets a copy of its own; only one met again is shared through the target's
    // dictionary. libxml2 2.9's dictionary stops growing its hash table, so interning every distinct name of
    // large inputs would make the merge quadratic.
    auto [entry, first] = m_strings.try_emplace(text, nullptr);
    const xmlChar* taken = nullptr;
    if (first || !m_target->dict) {
        taken = xmlStrdup(text);
    } else {
        if (!entry->second)
            entry->second = xmlDictLookup(m_target->dict, text, -1);
        taken = entry->second;
    }
    if (!taken)
        throw std::bad_alloc();
    text = taken;
}

void NodeMover::rehome(xmlChar*& text) {
    const xmlChar* shared = text;
    rehome(shared);
    text = const_cast<xmlChar*>(shared);
}

void NodeMover::takeLeaf(xmlNode* leaf) {
    leaf->doc = m_target;
    rehome(leaf->name);
    if (leaf->type == XML_ENTITY_REF_NODE) {
        // Its children link to the entity's declaration, which must be the target's.
        xmlEntity* entity = xmlGetDocEntity(m_target, leaf->name);
        leaf->children = leaf->last = reinterpret_cast<xmlNode*>(entity);
    } else {
        rehome(leaf->content);
    }
}

void NodeMover::move(xmlNode* node, xmlNode* parent) {
    xmlDoc* source = node->doc;
    xmlUnlinkNode(node);
    NamespaceFixer namespaces(m_target, node, parent, scopeAt(parent));

    // A work list instead of recursion; the inherited flag tells whether a default namespace is declared
    // inside the subtree above the element.
    struct Pending {
        xmlNode* element;
        bool innerDefault;
    };
    std::vector<Pending> pending;
    if (node->type == XML_ELEMENT_NODE)
        pending.push_back({node, false});
    else
        takeLeaf(node);
    while (!pending.empty()) {
        const Pending current = pending.back();
        pending.pop_back();
        xmlNode* element = current.element;
        const bool innerDefault = current.innerDefault || declaresDefault(element);
        namespaces.enter(element);
        element->doc = m_target;
        rehome(element->name);
        element->ns = namespaces.resolve(element->ns);
        if (!element->ns && !innerDefault)
            namespaces.noteUnqualified();
        for (xmlAttr* attr = element->properties; attr; attr = attr->next) {
            if (XML_ATTR_GET_ATYPE(attr) == XML_ATTRIBUTE_ID)
                xmlRemoveID(source, attr); // IDs are looked up per document; the old one must forget it
            attr->doc = m_target;
            rehome(attr->name);
            attr->ns = namespaces.resolve(attr->ns);
            for (xmlNode* value = attr->children; value; value = value->next)
                takeLeaf(value);
        }
        for (xmlNode* child = element->children; child; child = child->next) {
            if (child->type == XML_ELEMENT_NODE)
                pending.push_back({child, innerDefault});
            else
                takeLeaf(child);
        }
    }
    namespaces.finish();
    // Every node already belongs to the target, so libxml2 only links it.
    xmlAddChild(parent, node);
}

} // namespace corvanta
