#include "xmldocument.h"

#include "failure.h"
#include "textfile.h"

#include <QFile>
#include <cstddef>
#include <new>
#include <vector>

namespace corvanta {

namespace {

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

struct SaveTarget {
    explicit SaveTarget(const QString& path)
        : file(path) {}
    QFile file;
    bool failed = false;
};

int writeToSaveFile(void* context, const char* buffer, int length) {
    auto* target = static_cast<SaveTarget*>(context);
    if (target->failed || !writeWhole(target->file, QByteArrayView(buffer, length))) {
        target->failed = true;
        return -1;
    }
    return length;
}

// libxml2's formatter writes no indentation anywhere below an element that has a text, CDATA or entity
// reference child, but knows nothing of xml:space. An empty text node at the top of each preserve scope
// therefore keeps the whole scope as it is; it writes nothing itself, and goes again after the save.
class PreserveMarkers {
public:
    explicit PreserveMarkers(xmlDoc* doc) {
        std::vector<xmlNode*> pending;
        if (xmlNode* root = rootElement(doc))
            pending.push_back(root);
        while (!pending.empty()) {
            xmlNode* element = pending.back();
            pending.pop_back();
            const bool preserve = isSpacePreserve(element, false);
            const std::size_t below = pending.size();
            bool asItIs = false; // below an element with a text child nothing is added already
            for (xmlNode* child = element->children; child && !asItIs; child = child->next) {
                if (child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE ||
                    child->type == XML_ENTITY_REF_NODE)
                    asItIs = true;
                else if (child->type == XML_ELEMENT_NODE && !preserve)
                    pending.push_back(child);
            }
            if (asItIs)
                pending.resize(below);
            else if (preserve && element->children)
                mark(element);
        }
    }
    ~PreserveMarkers() {
        for (xmlNode* marker : m_markers) {
            xmlUnlinkNode(marker);
            xmlFreeNode(marker);
        }
    }
    PreserveMarkers(const PreserveMarkers&) = delete;
    PreserveMarkers& operator=(const PreserveMarkers&) = delete;

private:
    void mark(xmlNode* element) {
        XmlNodeList marker(xmlNewDocText(element->doc, xmlChars("")));
        if (!marker)
            throw std::bad_alloc();
        m_markers.push_back(marker.get());
        xmlAddChild(element, marker.release()); // never merged: the element has no text child
    }

    std::vector<xmlNode*> m_markers;
};

} // namespace

bool holdsText(const xmlNode* element) {
    for (const xmlNode* child = element->children; child; child = child->next) {
        if ((child->type == XML_TEXT_NODE && !xmlIsBlankNode(child)) || child->type == XML_CDATA_SECTION_NODE ||
            child->type == XML_ENTITY_REF_NODE)
            return true;
    }
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

void dropBlankText(xmlNode* root) {
    if (!root || root->type != XML_ELEMENT_NODE)
        return;
    // A work list instead of recursion: depth is bounded only by the parser.
    struct Pending {
        xmlNode* element;
        bool preserve;
    };
    std::vector<Pending> pending{{root, isSpacePreserve(root, false)}};
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

void saveXmlDocument(xmlDoc* doc, const QString& path, bool withDeclaration) {
    if (path.isEmpty())
        throw Failure(QStringLiteral("There is no working file to save the result to."));
    // A plain file, not QSaveFile: the working file is new in a private folder, and syncing a large result to
    // disk would only cost time. A failed save removes what it wrote.
    SaveTarget target(path);
    // Unbuffered: libxml2 hands over blocks of its own, and a failed write is then seen with its reason at once.
    if (!target.file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        throw Failure(QStringLiteral("%1: %2").arg(path, target.file.errorString()));
    const PreserveMarkers markers(doc);
    // XML_SAVE_NO_XHTML: an XHTML document type must not switch the output to XHTML rules.
    const int options = XML_SAVE_FORMAT | XML_SAVE_NO_XHTML | (withDeclaration ? 0 : XML_SAVE_NO_DECL);
    int written = -1;
    {
        const QuietLibxml2 quiet; // a failed write reaches the user as a Failure, not on standard error
        const XmlSaveContext save(xmlSaveToIO(&writeToSaveFile, nullptr, &target, "UTF-8", options));
        if (save && xmlSaveDoc(save.get(), doc) == 0)
            written = xmlSaveFlush(save.get());
    }
    if (written >= 0 && !target.failed && target.file.flush()) {
        target.file.close();
        if (target.file.error() == QFileDevice::NoError)
            return;
    }
    const QString reason = target.file.error() != QFileDevice::NoError
                               ? target.file.errorString()
                               : QStringLiteral("The document could not be written.");
    target.file.close();
    target.file.remove();
    throw Failure(QStringLiteral("%1: %2").arg(path, reason));
}

} // namespace corvanta
