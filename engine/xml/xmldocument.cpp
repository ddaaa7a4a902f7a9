#include "engine/xml/xmldocument.h"

#include <vector>

namespace corvanta {

bool isSpacePreserve(const xmlNode* element, bool inherited) {
    for (const xmlAttr* attr = element->properties; attr; attr = attr->next) {
        if (xmlStrEqual(attr->name, xmlChars("space")) && attr->ns &&
            xmlStrEqual(attr->ns->href, xmlChars("http://www.w3.org/XML/1998/namespace"))) {
            const XmlString value(xmlNodeListGetString(element->doc, attr->children, 1));
            if (xmlStrEqual(value.get(), xmlChars("preserve")))
                return true;
            if (xmlStrEqual(value.get(), xmlChars("default")))
                return false;
        }
    }
    return inherited;
}

bool isTextLike(const xmlNode* node) {
    return node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE || node->type == XML_ENTITY_REF_NODE;
}

bool holdsText(const xmlNode* element) {
    for (const xmlNode* child = element->children; child; child = child->next)
        if (isTextLike(child) && !(child->type == XML_TEXT_NODE && xmlIsBlankNode(child)))
            return true;
    return false;
}

xmlNode* rootElement(const xmlDoc* doc) {
    return doc ? xmlDocGetRootElement(doc) : nullptr;
}

std::string_view baseName(const xmlNode* node) {
    switch (node->type) {
    case XML_ELEMENT_NODE:
    case XML_PI_NODE:
    case XML_ENTITY_REF_NODE:
        return node->name ? std::string_view(reinterpret_cast<const char*>(node->name)) : std::string_view();
    default:
        return {};
    }
}

qsizetype childCount(const xmlNode* node) {
    // An entity reference's children link to its declaration, not to child nodes.
    if (!node || node->type == XML_ENTITY_REF_NODE)
        return 0;
    qsizetype count = 0;
    for (const xmlNode* child = node->children; child; child = child->next)
        ++count;
    return count;
}

QStringList childBaseNames(const xmlNode* node) {
    QStringList names;
    if (node && node->type != XML_ENTITY_REF_NODE)
        for (const xmlNode* child = node->children; child; child = child->next) {
            const std::string_view name = baseName(child);
            names.append(QString::fromUtf8(name.data(), qsizetype(name.size())));
        }
    return names;
}

void dropBlankText(xmlNode* root, bool preserved) {
    if (!root || root->type != XML_ELEMENT_NODE)
        return;
    // A work list instead of recursion: depth is bounded only by the parser.
    struct Pending {
        xmlNode* element;
        bool preserve;
    };
    std::vector<Pending> pending{{root, isSpacePreserve(root, preserved)}};
    while (!pending.empty()) {
        const Pending current = pending.back();
        pending.pop_back();
        bool blanks = false;
        bool text = false;
        for (xmlNode* child = current.element->children; child; child = child->next) {
            if (child->type == XML_ELEMENT_NODE)
                pending.push_back({child, isSpacePreserve(child, current.preserve)});
            else if (child->type == XML_TEXT_NODE)
                (xmlIsBlankNode(child) ? blanks : text) = true;
            else if (child->type == XML_CDATA_SECTION_NODE || child->type == XML_ENTITY_REF_NODE)
                text = true;
        }
        if (!blanks || text || current.preserve)
            continue;
        xmlNode* next = nullptr;
        for (xmlNode* child = current.element->children; child; child = next) {
            next = child->next;
            if (child->type == XML_TEXT_NODE) {
                xmlUnlinkNode(child);
                xmlFreeNode(child);
            }
        }
    }
}

QuietLibxml2::QuietLibxml2()
    : m_handler(xmlStructuredError)
    , m_context(xmlStructuredErrorContext) {
    xmlSetStructuredErrorFunc(nullptr, [](void*, xmlError*) {});
}

QuietLibxml2::~QuietLibxml2() {
    xmlSetStructuredErrorFunc(m_context, m_handler);
}

} // namespace corvanta
