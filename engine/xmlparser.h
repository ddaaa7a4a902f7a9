#pragma once

#include "xmldocument.h"

#include <QByteArray>
#include <QString>

namespace corvanta {

/// Why a text did not parse, with libxml2's 1-based line and column.
struct XmlParseError {
    QString reason;
    int line = 0;
    int column = 0;
};

/// One input loaded as Merge loads it.
struct ParsedXml {
    /// Null when the text did not parse; the document then has no root.
    XmlDocument doc;
    /// True when the text starts with an XML declaration.
    bool hasDeclaration = false;
    /// Set when doc is null.
    XmlParseError error;
};

/// Parses \a text (UTF-8, a leading byte-order mark ignored; the declaration's encoding does not change the
/// decoding) as the document at \a path, which relative DTD references resolve against.
/// Nothing is ever fetched from the network, entity references stay references and libxml2's limits on depth,
/// sizes and entity expansion stay in force. A document with a document type declaration is validated when its
/// whole DTD is at hand locally; one that does not conform fails. When a part of the DTD cannot be had, the
/// document is parsed without validation. Whitespace-only text is dropped as dropBlankText() says.
/// Each document gets its own dictionary: libxml2 2.9's dictionary slows down once it holds a few hundred
/// thousand names, so one dictionary shared by all inputs would make a merge of many distinct names quadratic.
ParsedXml parseXml(QByteArray text, const QString& path);

} // namespace corvanta
