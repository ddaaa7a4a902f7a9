#pragma once

#include <QByteArray>
#include <QStringView>
#include <string_view>

namespace corvanta {

/// Writes JSON text (RFC 8259, UTF-8) straight into a byte array, value by value; the caller nests the objects and
/// arrays. A join report of a Merge of many inputs holds hundreds of thousands of short values: building them as
/// QJsonValues first and writing them with QJsonDocument costs about a fifth of such a join, writing them here a
/// small fraction of that.
class JsonText {
public:
    enum class Layout {
        Compact,  ///< no white space at all
        Indented, ///< as QJsonDocument::Indented writes it: a member or element a line, four spaces a level
    };

    explicit JsonText(Layout layout = Layout::Compact)
        : m_indented(layout == Layout::Indented) {}

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

    /// The text written so far.
    const QByteArray& text() const { return m_text; }

private:
    void beginValue();
    void endContainer(char bracket);
    void breakLine();
    void quoted(std::string_view utf8);

    QByteArray m_text;
    bool m_indented;
    int m_depth = 0;
    bool m_afterValue = false; // the next value or key needs a comma before it
    bool m_afterKey = false;   // the next value is that of the key just written
};

} // namespace corvanta
