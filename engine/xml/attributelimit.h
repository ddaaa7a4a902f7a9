#pragma once

#include <QByteArrayView>
#include <QtGlobal>

namespace corvanta {

/// Watches a text on its way to the parser for a start tag with more than kMaxAttributes attributes, namespace
/// declarations included. libxml2 2.9 checks every attribute of an element against each one before it, so one
/// element with hundreds of thousands of them would hold a parse for hours, and no parser option bounds that: the
/// count must be known before libxml2 reads the tag. No library tells it, hence this small lexer of its own. It
/// only tells start tags from text, end tags, comments, CDATA sections, processing instructions, the document type
/// and quoted values; it does not check that the text is well-formed (the parser does).
class AttributeLimit {
public:
    static constexpr qsizetype kMaxAttributes = 10'000;

    /// Reads the next piece of the text; false once a start tag has too many attributes, and on every call after.
    bool scan(QByteArrayView piece);

    /// Where the start tag with too many attributes begins: the offset of its '<' in the text.
    qsizetype tagOffset() const { return m_tagOffset; }

private:
    enum class State {
        Text,
        Open,       // after '<'
        Bang,       // after "<!"
        BangDash,   // after "<!-"
        StartTag,   // in a start tag, outside a quoted value
        Quoted,     // in a quoted value of a start tag or declaration
        EndTag,     // in an end tag, or after the internal subset's ']' up to the closing '>'
        Comment,    // counts the dashes before a '>'
        CData,      // counts the ']' before a '>'
        Pi,         // after a '?' when the next '>' closes it
        Declaration // in "<!DOCTYPE", "<!ENTITY" and the like, outside a quoted value
    };

    void step(char c);
    const char* scanStartTag(const char* at, const char* end);

    State m_state = State::Text;
    State m_afterQuote = State::StartTag;
    char m_quote = 0;
    int m_run = 0;           // how many of the bytes that close a comment, CDATA or instruction came last
    bool m_inSubset = false; // in the document type's internal subset
    qsizetype m_attributes = 0;
    bool m_exceeded = false;
    qsizetype m_offset = 0; // of the next byte
    qsizetype m_tagOffset = 0;
};

} // namespace corvanta
