#include "jsontext.h"

#include "codepage.h"

#include <QJsonArray>
#include <QJsonObject>
#include <cmath>

namespace corvanta {

JsonText& JsonText::beginObject() {
    beginValue();
    m_text.append('{');
    m_afterValue = false;
    return *this;
}

JsonText& JsonText::endObject() {
    m_text.append('}');
    m_afterValue = true;
    return *this;
}

JsonText& JsonText::beginArray() {
    beginValue();
    m_text.append('[');
    m_afterValue = false;
    return *this;
}

JsonText& JsonText::endArray() {
    m_text.append(']');
    m_afterValue = true;
    return *this;
}

JsonText& JsonText::key(std::string_view utf8) {
    beginValue();
    quoted(utf8);
    m_text.append(':');
    m_afterValue = false;
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

JsonText& JsonText::json(const QJsonValue& value) {
    switch (value.type()) {
    case QJsonValue::Bool:
        return boolean(value.toBool());
    case QJsonValue::Double: {
        const double number = value.toDouble();
        if (std::trunc(number) == number && std::abs(number) < 9.0e15)
            return this->number(qint64(number));
        beginValue();
        m_text.append(QByteArray::number(number, 'g', 17));
        m_afterValue = true;
        return *this;
    }
    case QJsonValue::String:
        return string(value.toString());
    case QJsonValue::Array:
        beginArray();
        for (const auto& element : value.toArray())
            json(element);
        return endArray();
    case QJsonValue::Object: {
        beginObject();
        const QJsonObject object = value.toObject();
        for (auto member = object.begin(); member != object.end(); ++member) {
            const QByteArray name = member.key().toUtf8();
            key(std::string_view(name.constData(), size_t(name.size())));
            json(member.value());
        }
        return endObject();
    }
    case QJsonValue::Null:
    case QJsonValue::Undefined:
        break;
    }
    beginValue();
    m_text.append("null");
    m_afterValue = true;
    return *this;
}

void JsonText::beginValue() {
    if (m_afterValue)
        m_text.append(',');
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
