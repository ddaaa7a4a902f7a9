#include "engine/text/jsontext.h"

#include "engine/text/codepage.h"

#include <utility>

namespace corvanta {

JsonText& JsonText::beginObject() {
    beginValue();
    m_text.append('{');
    ++m_depth;
    m_afterValue = false;
    return *this;
}

JsonText& JsonText::endObject() {
    endContainer('}');
    return *this;
}

JsonText& JsonText::beginArray() {
    beginValue();
    m_text.append('[');
    ++m_depth;
    m_afterValue = false;
    return *this;
}

JsonText& JsonText::endArray() {
    endContainer(']');
    return *this;
}

JsonText& JsonText::key(std::string_view utf8) {
    beginValue();
    quoted(utf8);
    m_text.append(':');
    if (m_indented)
        m_text.append(' ');
    m_afterValue = false;
    m_afterKey = true;
    return *this;
}

JsonText& JsonText::string(std::string_view utf8) {
    beginValue();
    quoted(utf8);
    m_afterValue = true;
    return *this;
}

JsonText& JsonText::string(QStringView text) {
    const QByteArray utf8 = encodeSystemCodePage(text);
    return string(std::string_view(utf8.constData(), size_t(utf8.size())));
}

JsonText& JsonText::number(qint64 number) {
    beginValue();
    m_text.append(QByteArray::number(number));
    m_afterValue = true;
    return *this;
}

JsonText& JsonText::boolean(bool value) {
    beginValue();
    m_text.append(value ? "true" : "false");
    m_afterValue = true;
    return *this;
}

void JsonText::beginValue() {
    if (m_afterValue)
        m_text.append(',');
    // A value after its key stays on the key's line. Only the indented layout asks: the compact one is the fast path.
    if (m_indented && !std::exchange(m_afterKey, false) && m_depth > 0)
        breakLine();
}

void JsonText::endContainer(char bracket) {
    --m_depth;
    // Qt breaks the line before the closing bracket of an empty container too: "[\n    ]".
    if (m_indented)
        breakLine();
    m_text.append(bracket);
    m_afterValue = true;
}

void JsonText::breakLine() {
    m_text.append('\n').append(qsizetype{4} * m_depth, ' ');
}

void JsonText::quoted(std::string_view utf8) {
    static constexpr char hex[] = "0123456789abcdef";
    m_text.append('"');
    size_t plain = 0; // start of the bytes not yet written, none of which needs escaping
    for (size_t i = 0; i < utf8.size(); ++i) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        if (byte >= 0x20 && byte != '"' && byte != '\\')
            continue;
        m_text.append(utf8.data() + plain, qsizetype(i - plain));
        plain = i + 1;
        switch (byte) {
        case '"':
            m_text.append("\\\"");
            break;
        case '\\':
            m_text.append("\\\\");
            break;
        case '\b':
            m_text.append("\\b");
            break;
        case '\f':
            m_text.append("\\f");
            break;
        case '\n':
            m_text.append("\\n");
            break;
        case '\r':
            m_text.append("\\r");
            break;
        case '\t':
            m_text.append("\\t");
            break;
        default:
            m_text.append("\\u00").append(hex[byte >> 4]).append(hex[byte & 0xF]);
        }
    }
    m_text.append(utf8.data() + plain, qsizetype(utf8.size() - plain));
    m_text.append('"');
}

} // namespace corvanta
