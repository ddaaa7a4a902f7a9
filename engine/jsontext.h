#pragma once

#include <QByteArray>
#include <QJsonValue>
#include <QStringView>
#include <string_view>

namespace corvanta {

/// Writes compact JSON text (RFC 8259, UTF-8) straight into a byte array, value by value; the caller nests the
/// objects and arrays. A join report of a Merge of many inputs holds hundreds of thousands of short values:
/// building them as QJsonValues first and writing them with QJsonDocument costs about a fifth of such a join,
/// writing them here a small fraction of that.
class JsonText {
public:
    JsonText& beginObject();
    JsonText& endObject();
    JsonText& beginArray();
    JsonText& endArray();
    /// Names the next member of the current object.
    JsonText& key(std::string_view utf8);
    JsonText& string(std::string_view utf8);
    /// \a text in UTF-8; a lone surrogate becomes U+FFFD.
    JsonText& string(QStringView text);
    JsonText& number(qint64 number);
    JsonText& boolean(bool value);
    /// A value built with Qt's JSON classes, for the small parts that come that way.
    JsonText& json(const QJsonValue& value);

    /// The text written so far.
    const QByteArray& text() const { return m_text; }

private:
    void beginValue();
    void quoted(std::string_view utf8);

    QByteArray m_text;
    bool m_afterValue = false; // the next value or key needs a comma before it
};

} // namespace corvanta
