#include "engine/xml/attributelimit.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <initializer_list>
#include <iterator>

namespace corvanta {

namespace {

/// A set of bytes to look for.
class ByteSet {
public:
    constexpr ByteSet(std::initializer_list<char> bytes) {
        for (const char c : bytes)
            m_members[static_cast<unsigned char>(c)] = true;
    }
    const char* findIn(const char* from, const char* to) const {
        return std::find_if(from, to, [this](char c) { return m_members[static_cast<unsigned char>(c)]; });
    }

private:
    std::array<bool, 256> m_members{};
};

constexpr ByteSet kInDeclaration{'"', '\'', '[', '>'};
constexpr ByteSet kInSubset{'<', ']'};

// How many bytes equal to c end [from, to).
qsizetype trailing(const char* from, const char* to, char c) {
    const auto* last = std::find_if(std::make_reverse_iterator(to), std::make_reverse_iterator(from), [c](char byte) {
                           return byte != c;
                       }).base();
    return to - last;
}

} // namespace

bool AttributeLimit::scan(QByteArrayView piece) {
    const char* at = piece.data();
    const char* const end = at + piece.size();
    // Each turn jumps to the next byte that can change the state, and steps over it.
    while (at < end && !m_exceeded) {
        if (m_state == State::StartTag || (m_state == State::Quoted && m_afterQuote == State::StartTag)) {
            at = scanStartTag(at, end);
            continue;
        }
        const char* next = end;
        switch (m_state) {
        case State::Text:
            next = m_inSubset ? kInSubset.findIn(at, end)
                              : static_cast<const char*>(std::memchr(at, '<', size_t(end - at)));
            break;
        case State::Quoted:
            next = static_cast<const char*>(std::memchr(at, m_quote, size_t(end - at)));
            break;
        case State::Declaration:
            next = kInDeclaration.findIn(at, end);
            break;
        case State::EndTag:
        case State::Comment:
        case State::CData:
        case State::Pi:
            next = static_cast<const char*>(std::memchr(at, '>', size_t(end - at)));
            break;
        case State::StartTag: // scanned above
        case State::Open:
        case State::Bang:
        case State::BangDash:
            next = at; // one byte decides
            break;
        }
        if (!next)
            next = end;
        // What closes a comment, a CDATA section or an instruction comes right before its '>', maybe in an
        // earlier piece.
        if (m_state == State::Comment || m_state == State::CData || m_state == State::Pi) {
            const char closer = m_state == State::Comment ? '-' : m_state == State::CData ? ']' : '?';
            const qsizetype run = trailing(at, next, closer);
            m_run = run == next - at ? m_run + int(run) : int(run);
        }
        m_offset += next - at;
        if (next == end)
            break;
        at = next + 1;
        step(*next);
    }
    return !m_exceeded;
}

// Start tags are most of a document's markup, with a few bytes between the bytes that matter: one plain loop
// over them costs less than a jump to each.
const char* AttributeLimit::scanStartTag(const char* at, const char* end) {
    const char* p = at;
    for (; p < end; ++p) {
        const char c = *p;
        if (m_state == State::Quoted) {
            if (c == m_quote)
                m_state = State::StartTag;
        } else if (c == '=') {
            if (++m_attributes > kMaxAttributes) {
                m_exceeded = true;
                break;
            }
        } else if (c == '"' || c == '\'') {
            m_quote = c;
            m_afterQuote = State::StartTag;
            m_state = State::Quoted;
        } else if (c == '>') {
            m_state = State::Text;
            ++p;
            break;
        }
    }
    m_offset += p - at;
    return p;
}

// Steps over c, one of the bytes that the state looks for.
void AttributeLimit::step(char c) {
    ++m_offset;
    switch (m_state) {
    case State::Text:
        if (c == '<') {
            m_state = State::Open;
            m_tagOffset = m_offset - 1;
        } else { // the internal subset's ']'
            m_inSubset = false;
            m_state = State::EndTag;
        }
        break;
    case State::Open:
        m_run = 0;
        if (c == '!') {
            m_state = State::Bang;
        } else if (c == '?') {
            m_state = State::Pi;
        } else if (c == '/') {
            m_state = State::EndTag;
        } else {
            m_state = State::StartTag;
            m_attributes = 0;
        }
        break;
    case State::Bang:
        m_state = c == '-' ? State::BangDash : c == '[' ? State::CData : State::Declaration;
        break;
    case State::BangDash:
        m_state = c == '-' ? State::Comment : State::Declaration;
        break;
    case State::StartTag: // scanned by scanStartTag()
        break;
    case State::Quoted:
        m_state = m_afterQuote;
        break;
    case State::EndTag:
        m_state = State::Text;
        break;
    case State::Comment:
    case State::CData:
        if (m_run >= 2)
            m_state = State::Text;
        m_run = 0;
        break;
    case State::Pi:
        if (m_run >= 1)
            m_state = State::Text;
        m_run = 0;
        break;
    case State::Declaration:
        if (c == '>') {
            m_state = State::Text;
        } else if (c == '[') {
            m_inSubset = true; // the document type's internal subset: declarations until its ']'
            m_state = State::Text;
        } else {
            m_quote = c;
            m_afterQuote = State::Declaration;
            m_state = State::Quoted;
        }
        break;
    }
}

} // namespace corvanta
