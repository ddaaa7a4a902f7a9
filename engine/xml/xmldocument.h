#pragma once

#include <QString>
#include <QStringList>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlsave.h>
#include <memory>
#include <string_view>

namespace corvanta {

/// Deleters for the libxml2 objects the engine owns.
struct XmlDeleter {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
    void operator()(xmlParserCtxt* context) const { xmlFreeParserCtxt(context); }
    void operator()(xmlSaveCtxt* context) const { xmlSaveClose(context); }
    void operator()(xmlChar* text) const { xmlFree(text); }
    void operator()(xmlNode* node) const { xmlFreeNodeList(node); }
};

/// An owned XML document; null stands for a document that has no nodes (a failed parse).
using XmlDocument = std::unique_ptr<xmlDoc, XmlDeleter>;
/// An owned parser context.
using XmlParserContext = std::unique_ptr<xmlParserCtxt, XmlDeleter>;
/// An owned save context.
using XmlSaveContext = std::unique_ptr<xmlSaveCtxt, XmlDeleter>;
/// Owned nodes that are in no tree: the first of a list of siblings, freed with the rest of the list.
using XmlNodeList = std::unique_ptr<xmlNode, XmlDeleter>;
/// An owned string that libxml2 allocated.
using XmlString = std::unique_ptr<xmlChar, XmlDeleter>;

/// \a text as libxml2's character type.
inline const xmlChar* xmlChars(const char* text) {
    return reinterpret_cast<const xmlChar*>(text);
}

/// The document element of \a doc, or null when there is none (also for a null \a doc).
xmlNode* rootElement(const xmlDoc* doc);

/// The name the merge compares: an element's local name without prefix, a processing instruction's target,
/// an entity reference's name; empty for text, CDATA sections, comments and every other node type.
std::string_view baseName(const xmlNode* node);

/// Number of child nodes of \a node, of every type.
qsizetype childCount(const xmlNode* node);

/// baseName() of every child node of \a node, in document order; none for a null \a node.
QStringList childBaseNames(const xmlNode* node);

/// True for text, CDATA sections and entity references: the nodes that make an element's content text, which
/// saveXmlDocument() writes as it is.
bool isTextLike(const xmlNode* node);

/// True when \a element holds text of its own: text that is not only white space, a CDATA section or an entity
/// reference. White space between the element children of such mixed content is part of the text.
bool holdsText(const xmlNode* element);

/// Removes the text nodes that hold only white space (space, tab, CR, LF) from every element at or below \a root
/// that holds no text of its own (text that is not only white space, a CDATA section or an entity reference),
/// except in the scope of xml:space="preserve" (which \a preserved says holds above \a root). Indentation between
/// elements then never counts as a node, while the spaces of mixed content stay.
void dropBlankText(xmlNode* root, bool preserved = false);

/// True when white space in \a element is significant by its xml:space attribute; \a inherited when it has none.
bool isSpacePreserve(const xmlNode* element, bool inherited);

/// Keeps libxml2 from printing errors on standard error while it lives (for this thread), for calls whose
/// failures the caller reports itself.
class QuietLibxml2 {
public:
    QuietLibxml2();
    ~QuietLibxml2();
    QuietLibxml2(const QuietLibxml2&) = delete;
    QuietLibxml2& operator=(const QuietLibxml2&) = delete;

private:
    xmlStructuredErrorFunc m_handler;
    void* m_context;
};

} // namespace corvanta
