#include "engine/xml/attributelimit.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace corvanta {

namespace {

bool startsCharacter(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
}

} // namespace

bool AttributeLimit::scan(QByteArrayView piece) {
    const char* at = piece.data();
    const char* const end = at + piece.size();
    while (at < end && !m_exceeded) {
        // Text and quoted values make up most of a document: they are skipped to their end at once.
        const bool skipping = (m_state == State::Text && !m_inSubset) || m_state == State::Quoted;
        if (!skipping) {
            advance(*at++);
            continue;
        }
        const char stop = m_state == State::Text ? '<' : m_quote;
        const auto* found = static_cast<const char*>(std::memchr(at, stop, size_t(end - at)));
        const char* const skipped = found ? found : end;
        const auto newlines = std::count(at, skipped, '\n');
        if (newlines > 0) {
            m_line += int(newlines);
            at = std::find(std::make_reverse_iterator(skipped), std::make_reverse_iterator(at), '\n').base();
            m_column = 0;
        }
        m_column += int(std::count_if(at, skipped, startsCharacter));
        at = skipped;
        if (found)
            advance(*at++);
    }
    return !m_exceeded;
}

void AttributeLimit::advance(char c) {
    if (c == '\n') {
        ++m_line;
        m_column = 0;
    } else if (startsCharacter(c)) {
        ++m_column;
    }
    switch (m_state) {
    case State::Text:
        if (c == '<') {
            m_state = State::Open;
            m_tagLine = m_line;
            m_tagColumn = m_column;
        } else if (c == ']' && m_inSubset) {
            m_inSubset = false;
            m_state = State::EndTag;
        }
        break;
    case State::Open:
        if (c == '!') {
            m_state = State::Bang;
        } else if (c == '?') {
            m_state = State::Pi;
            m_run = 0;
        } else if (c == '/') {
            m_state = State::EndTag;
        } else {
            m_state = State::StartTag;
            m_attributes = 0;
        }
        break;
    case State::Bang:
        m_run = 0;
        m_state = c == '-' ? State::BangDash : c == '[' ? State::CData : State::Declaration;
        break;
    case State::BangDash:
        m_state = c == '-' ? State::Comment : State::Declaration;
        break;
    case State::StartTag:
        if (c == '"' || c == '\'') {
            m_quote = c;
            m_afterQuote = State::StartTag;
            m_state = State::Quoted;
        } else if (c == '=') {
            m_exceeded = ++m_attributes > kMaxAttributes;
        } else if (c == '>') {
            m_state = State::Text;
        }
        break;
    case State::Quoted:
        if (c == m_quote)
            m_state = m_afterQuote;
        break;
    case State::EndTag:
        if (c == '>')
            m_state = State::Text;
        break;
    case State::Comment:
    case State::CData:
        if (c == '>' && m_run >= 2)
            m_state = State::Text;
        else
            m_run = c == (m_state == State::Comment ? '-' : ']') ? m_run + 1 : 0;
        break;
    case State::Pi:
        if (c == '>' && m_run > 0)
            m_state = State::Text;
        else
            m_run = c == '?' ? 1 : 0;
        break;
    case State::Declaration:
        if (c == '"' || c == '\'') {
            m_quote = c;
            m_afterQuote = State::Declaration;
            m_state = State::Quoted;
        } else if (c == '[' && !m_inSubset) {
            m_inSubset = true; // the document type's internal subset: declarations until its ']'
            m_state = State::Text;
        } else if (c == '>') {
            m_state = State::Text;
        }
        break;
    }
}

} // namespace corvanta
