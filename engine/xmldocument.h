#pragma once

#include <QString>
#include <QStringList>
#include <libxml/parser.h>
#include <libxml/tree.h>
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
};

/// An owned XML document; null stands for a document that has no nodes (a failed parse).
using XmlDocument = std::unique_ptr<xmlDoc, XmlDeleter>;
/// An owned parser context.
using XmlParserContext = std::unique_ptr<xmlParserCtxt, XmlDeleter>;
/// An owned save context.
using XmlSaveContext = std::unique_ptr<xmlSaveCtxt, XmlDeleter>;
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

/// Removes every text node that holds only white space (space, tab, CR, LF) below \a root, except under an
/// element whose xml:space is "preserve"; indentation then never counts as a node.
void dropBlankText(xmlNode* root);

/// Saves \a doc to \a path as UTF-8, indented two spaces per level (mixed content is left as it is), with every
/// node outside the root; with an XML declaration (saying UTF-8) only when \a withDeclaration. A save that fails
/// leaves no file behind. Throws Failure.
void saveXmlDocument(xmlDoc* doc, const QString& path, bool withDeclaration);

} // namespace corvanta
