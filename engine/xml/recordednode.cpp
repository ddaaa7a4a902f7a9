#include "engine/xml/recordednode.h"

#include <algorithm>
#include <array>

namespace corvanta {

namespace {

// What libxml2 writes for a byte of text (xmlEscapeContent) and of an attribute value (its attribute serializer,
// with the document's encoding named, so that characters beyond ASCII stay as they are); null where the byte
// stays.
using Escapes = std::array<const char*, 256>;

constexpr Escapes textEscapes() {
    Escapes escapes{};
    escapes['<'] = "&lt;";
    escapes['>'] = "&gt;";
    escapes['&'] = "&amp;";
    escapes['\r'] = "&#13;";
    return escapes;
}

constexpr Escapes attributeEscapes() {
    Escapes escapes = textEscapes();
    escapes['\n'] = "&#10;";
    escapes['\t'] = "&#9;";
    escapes['"'] = "&quot;";
    return escapes;
}

constexpr Escapes kText = textEscapes();
constexpr Escapes kAttribute = attributeEscapes();

void appendWith(std::string& out, std::string_view text, const Escapes& escapes) {
    std::size_t from = 0;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (const char* escape = escapes[static_cast<unsigned char>(text[i])]) {
            out.append(text.substr(from, i - from));
            out.append(escape);
            from = i + 1;
        }
    out.append(text.substr(from));
}

// libxml2 quotes a namespace name as it stands, with apostrophes when it holds a quotation mark
// (xmlBufWriteQuotedString).
void appendQuoted(std::string& out, std::string_view text) {
    if (text.find('"') == std::string_view::npos) {
        out.append(1, '"').append(text).append(1, '"');
    } else if (text.find('\'') == std::string_view::npos) {
        out.append(1, '\'').append(text).append(1, '\'');
    } else {
        out.append(1, '"');
        for (const char c : text)
            c == '"' ? out.append("&quot;") : out.append(1, c);
        out.append(1, '"');
    }
}

// As libxml2 writes a CDATA section: one that holds "]]>" (sections that followed one another make one) is cut
// after its "]]".
void appendCdata(std::string& out, std::string_view text) {
    if (text.empty()) {
        out.append("<![CDATA[]]>");
        return;
    }
    std::size_t start = 0;
    for (std::size_t end = text.find("]]>"); end != std::string_view::npos; end = text.find("]]>", start)) {
        out.append("<![CDATA[").append(text.substr(start, end + 2 - start)).append("]]>");
        start = end + 2;
    }
    if (start < text.size())
        out.append("<![CDATA[").append(text.substr(start)).append("]]>");
}

// libxml2 indents two spaces per level, up to 60 spaces.
void appendIndent(std::string& out, int level) {
    constexpr int kDeepest = 30;
    out.append(std::size_t(2) * std::size_t(std::min(level, kDeepest)), ' ');
}

} // namespace

void appendEscaped(std::string& out, std::string_view text, Escaping escaping) {
    appendWith(out, text, escaping == Escaping::Attribute ? kAttribute : kText);
}

bool isWhiteSpace(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; });
}

void RecordedNode::clear() {
    m_parts.clear();
    m_bytes.clear();
    m_open.clear();
    m_textPart = -1;
}

void RecordedNode::add(Kind kind, std::string_view name, std::string_view value) {
    Part part{kind};
    part.at = qsizetype(m_bytes.size());
    part.size = qsizetype(name.size());
    part.valueSize = qsizetype(value.size());
    m_bytes.append(name).append(value);
    m_parts.push_back(part);
}

void RecordedNode::startElement(std::string_view name) {
    endText();
    if (Part* parent = openElement())
        parent->filled = true;
    add(Kind::Element, name);
    m_open.push_back(m_parts.size() - 1);
}

void RecordedNode::declareNamespace(std::string_view prefix, std::string_view uri) {
    add(Kind::Namespace, prefix, uri);
}

void RecordedNode::addAttribute(std::string_view name, std::string_view value) {
    add(Kind::Attribute, name, value);
}

void RecordedNode::endElement() {
    endText();
    const std::size_t element = m_open.back();
    m_open.pop_back();
    add(Kind::End, {});
    m_parts.back().link = element;
    m_parts[element].link = m_parts.size() - 1;
}

void RecordedNode::addText(std::string_view text) {
    if (m_textPart < 0) {
        add(Kind::Text, {});
        m_textPart = qsizetype(m_parts.size()) - 1;
    }
    m_bytes.append(text);
    m_parts[std::size_t(m_textPart)].size += qsizetype(text.size());
}

void RecordedNode::startCdata() {
    // libxml2 makes one section of sections that follow one another.
    if (m_textPart < 0 && !m_parts.empty() && m_parts.back().kind == Kind::Cdata) {
        m_textPart = qsizetype(m_parts.size()) - 1;
        return;
    }
    endText();
    if (Part* parent = openElement())
        parent->mixed = true;
    add(Kind::Cdata, {});
    m_textPart = qsizetype(m_parts.size()) - 1;
}

void RecordedNode::endCdata() {
    m_textPart = -1;
}

void RecordedNode::endText() {
    if (m_textPart < 0)
        return;
    const Part& text = m_parts[std::size_t(m_textPart)];
    if (Part* parent = openElement(); parent && text.kind == Kind::Text && !isWhiteSpace(name(text)))
        parent->mixed = true;
    m_textPart = -1;
}

void RecordedNode::addComment(std::string_view text) {
    endText();
    if (Part* parent = openElement())
        parent->filled = true;
    add(Kind::Comment, text);
}

void RecordedNode::addProcessingInstruction(std::string_view target, std::string_view data, bool hasData) {
    endText();
    if (Part* parent = openElement())
        parent->filled = true;
    add(hasData ? Kind::Instruction : Kind::BareInstruction, target, data);
}

std::string_view RecordedNode::localName() const {
    const std::string_view qualified = name(m_parts.front());
    return qualified.substr(qualified.find(':') + 1);
}

bool RecordedNode::isTextLike() const {
    return !m_parts.empty() && (m_parts.front().kind == Kind::Text || m_parts.front().kind == Kind::Cdata);
}

bool RecordedNode::isBlankText() const {
    return !m_parts.empty() && m_parts.front().kind == Kind::Text && isWhiteSpace(name(m_parts.front()));
}

// As libxml2's formatter: with formatting on, each child of an element whose children hold no text goes on a line
// of its own, indented by its depth; an element with text is written as it stands, with all below it.
QByteArrayView RecordedNode::written(bool indented, int depth) const {
    std::string& out = m_written;
    out.clear();
    struct Open {
        bool format; // before the element
        bool mixed;
    };
    std::vector<Open> open;
    int level = depth;
    bool format = indented;
    if (indented)
        appendIndent(out, level);
    for (std::size_t i = 0; i < m_parts.size(); ++i) {
        const Part& part = m_parts[i];
        const bool inside = !open.empty(); // not the node itself
        switch (part.kind) {
        case Kind::Element: {
            if (inside && format)
                appendIndent(out, level);
            out.append(1, '<').append(name(part));
            for (std::size_t k = i + 1; k < m_parts.size() && m_parts[k].kind == Kind::Namespace; ++k) {
                out.append(m_parts[k].size > 0 ? " xmlns:" : " xmlns").append(name(m_parts[k])).append(1, '=');
                appendQuoted(out, value(m_parts[k]));
            }
            for (std::size_t k = i + 1;
                 k < m_parts.size() && (m_parts[k].kind == Kind::Namespace || m_parts[k].kind == Kind::Attribute); ++k)
                if (m_parts[k].kind == Kind::Attribute) {
                    out.append(1, ' ').append(name(m_parts[k])).append("=\"");
                    appendEscaped(out, value(m_parts[k]), Escaping::Attribute);
                    out.append(1, '"');
                }
            if (!part.mixed && !part.filled) { // its text, if any, is blank and dropped
                out.append("/>");
                if (inside && format)
                    out.append(1, '\n');
                i = part.link;
                break;
            }
            open.push_back({format, part.mixed});
            format = format && !part.mixed;
            out.append(1, '>');
            if (format)
                out.append(1, '\n');
            ++level;
            break;
        }
        case Kind::End: {
            --level;
            if (format)
                appendIndent(out, level);
            out.append("</").append(name(m_parts[part.link])).append(1, '>');
            format = open.back().format;
            open.pop_back();
            if (!open.empty() && format)
                out.append(1, '\n');
            break;
        }
        case Kind::Text:
            if (inside && !open.back().mixed)
                break; // blank, and dropped
            appendEscaped(out, name(part), Escaping::Text);
            break;
        case Kind::Cdata:
            appendCdata(out, name(part));
            break;
        case Kind::Comment:
        case Kind::Instruction:
        case Kind::BareInstruction:
            if (inside && format)
                appendIndent(out, level);
            if (part.kind == Kind::Comment)
                out.append("<!--").append(name(part)).append("-->");
            else if (part.kind == Kind::Instruction)
                out.append("<?").append(name(part)).append(1, ' ').append(value(part)).append("?>");
            else
                out.append("<?").append(name(part)).append("?>");
            if (inside && format)
                out.append(1, '\n');
            break;
        case Kind::Namespace:
        case Kind::Attribute:
            break; // written with their element
        }
    }
    if (indented)
        out.append(1, '\n');
    return QByteArrayView(out.data(), qsizetype(out.size()));
}

} // namespace corvanta
