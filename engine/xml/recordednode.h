#pragma once

#include "engine/xml/xmlsave.h"

#include <string>
#include <string_view>
#include <vector>

namespace corvanta {

/// True when \a text holds only white space as XML counts it (blank text, to libxml2).
bool isWhiteSpace(std::string_view text);

enum class Escaping { Text, Attribute };
/// Appends \a text escaped as libxml2 writes text or an attribute value (white space included, so that a parser
/// reads the value back unchanged).
void appendEscaped(std::string& out, std::string_view text, Escaping escaping);

/// A node below a root element, recorded part by part as a streaming parser reports it, and written as
/// NodeWriter::write() writes the node libxml2 builds of the same text. Blank
/// text is dropped as dropBlankText() drops it. The parts lie in two flat arrays, so that once they have grown a
/// record costs no allocation per node. Knows nothing of xml:space: a reader that meets it leaves the text to
/// libxml2.
class RecordedNode {
public:
    void clear();
    bool isEmpty() const { return m_parts.empty(); }
    /// True while an element of the node is open.
    bool isOpen() const { return !m_open.empty(); }
    /// True while a text or CDATA section is open: character data then goes on in it.
    bool inText() const { return m_textPart >= 0; }
    /// True when the last part is a CDATA section: one that starts right after it goes on in it.
    bool endsWithCdata() const { return !m_parts.empty() && m_parts.back().kind == Kind::Cdata; }

    void startElement(std::string_view name);
    /// A namespace declaration of the element just started; \a prefix is empty for the default namespace.
    void declareNamespace(std::string_view prefix, std::string_view uri);
    /// An attribute of the element just started, its value as the parser normalized it.
    void addAttribute(std::string_view name, std::string_view value);
    void endElement();
    /// Character data; pieces that follow one another make one text, as do those of one CDATA section.
    void addText(std::string_view text);
    void startCdata();
    void endCdata();
    void addComment(std::string_view text);
    /// \a hasData is false for an instruction that ends right after its target.
    void addProcessingInstruction(std::string_view target, std::string_view data, bool hasData);
    /// Ends the text in progress, if any: what comes next is another node.
    void endText();

    /// The local name of the node, an element.
    std::string_view localName() const;
    /// True when the node is text or a CDATA section, as isTextLike() says of the node libxml2 builds.
    bool isTextLike() const;
    /// True when the node is text of white space only.
    bool isBlankText() const;
    /// The node, complete, as NodeWriter::write(node, indented, into, depth) writes the node libxml2 builds: 1 for a
    /// child of the root, 2 for a child of a top-level element. Valid until the next call.
    QByteArrayView written(bool indented, int depth = 1) const;

private:
    enum class Kind : quint8 { Element, Namespace, Attribute, End, Text, Cdata, Comment, Instruction, BareInstruction };
    struct Part {
        Kind kind;
        bool mixed = false;  // an element with text or CDATA among its children: written as it stands
        bool filled = false; // an element with children other than text
        qsizetype at = 0;    // the name (or the text) in m_bytes
        qsizetype size = 0;
        qsizetype valueSize = 0; // a value right after the name in m_bytes
        std::size_t link = 0;    // an element's end, an end's element
    };

    void add(Kind kind, std::string_view name, std::string_view value = {});
    std::string_view name(const Part& part) const { return std::string_view(m_bytes).substr(part.at, part.size); }
    std::string_view value(const Part& part) const {
        return std::string_view(m_bytes).substr(part.at + part.size, part.valueSize);
    }
    Part* openElement() { return m_open.empty() ? nullptr : &m_parts[m_open.back()]; }

    std::vector<Part> m_parts;
    std::string m_bytes;
    std::vector<std::size_t> m_open; // the open elements' parts
    qsizetype m_textPart = -1;       // the text or CDATA section in progress; its bytes end m_bytes
    mutable std::string m_written;   // what write() writes, before it goes out at once
};

} // namespace corvanta
