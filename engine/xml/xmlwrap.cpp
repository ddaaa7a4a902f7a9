#include "engine/xml/xmlwrap.h"

#include <libxml/tree.h>
#include <utility>

namespace corvanta {

namespace {

// Long enough to tell a UTF-8 byte order mark.
constexpr qsizetype kHeadLength = 3;

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

} // namespace

bool isWrapRootName(const QString& name) {
    const QByteArray utf8 = name.toUtf8();
    return !name.isEmpty() && xmlValidateNCName(reinterpret_cast<const xmlChar*>(utf8.constData()), 0) == 0;
}

QByteArray wrapStart(const QString& rootName) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<" + rootName.toUtf8() + ">\n";
}

QByteArray wrapEnd(const QString& rootName) {
    return "</" + rootName.toUtf8() + ">\n";
}

void PrologStripper::write(QByteArrayView bytes) {
    qsizetype i = 0;
    if (m_state != State::Body) {
        while (i < bytes.size() && m_state != State::Body)
            step(bytes[i++]);
        flush();
    }
    // From the root element on everything passes as it is.
    if (i < bytes.size())
        m_next.write(bytes.sliced(i));
}

void PrologStripper::finish() {
    if (m_state == State::Head)
        decideHead();
    if (m_state == State::Markup) {
        m_out += std::exchange(m_pending, {});
        m_state = State::Body;
    }
    flush();
}

void PrologStripper::flush() {
    if (!m_out.isEmpty())
        m_next.write(std::exchange(m_out, {}));
}

void PrologStripper::feed(QByteArrayView bytes) {
    for (const char c : bytes)
        step(c);
}

void PrologStripper::step(char c) {
    switch (m_state) {
    case State::Head:
        m_pending += c;
        if (m_pending.size() >= kHeadLength)
            decideHead();
        return;
    case State::Declaration: // dropped up to "?>"
        if (c == '>' && m_previous == '?')
            m_state = State::LineBreak;
        m_previous = c;
        return;
    case State::LineBreak:
        m_state = c == '\r' ? State::AfterCr : State::Prolog;
        if (c != '\r' && c != '\n')
            step(c);
        return;
    case State::AfterCr:
        m_state = State::Prolog;
        if (c != '\n')
            step(c);
        return;
    case State::Prolog:
        if (isSpace(c)) {
            m_out += c;
        } else if (c == '<') {
            m_pending = QByteArray(1, c);
            m_state = State::Markup;
        } else {
            m_out += c;
            m_state = State::Body;
        }
        return;
    case State::Markup:
        m_pending += c;
        decideMarkup();
        return;
    case State::Comment:
        m_out += c;
        if (c == '>' && m_dashes >= 2)
            m_state = State::Prolog;
        m_dashes = c == '-' ? m_dashes + 1 : 0;
        return;
    case State::Instruction:
        m_out += c;
        if (c == '>' && m_previous == '?')
            m_state = State::Prolog;
        m_previous = c;
        return;
    case State::Doctype:
        stepDoctype(c);
        return;
    case State::Body:
        m_out += c;
        return;
    }
}

void PrologStripper::decideHead() {
    QByteArray head = std::exchange(m_pending, {});
    if (head.startsWith("\xEF\xBB\xBF"))
        head.remove(0, 3);
    m_state = State::Prolog;
    feed(head);
}

void PrologStripper::decideMarkup() {
    static const QByteArray doctype = QByteArrayLiteral("<!DOCTYPE");
    static const QByteArray comment = QByteArrayLiteral("<!--");
    static const QByteArray declaration = QByteArrayLiteral("<?xml");
    if (m_pending.startsWith("<?")) {
        if (declaration.startsWith(m_pending))
            return;
        if (m_pending.startsWith(declaration) && isSpace(m_pending[5])) {
            // Wherever it stands before the root, not only at the very start: one after white space makes no
            // document on its own either, and kept it would stand inside the wrapping root, where none may.
            m_pending.clear();
            m_state = State::Declaration;
            m_previous = 0;
        } else {
            m_previous = m_pending.back(); // "<?xm?" may already be one byte short of its end
            m_out += std::exchange(m_pending, {});
            m_state = State::Instruction;
        }
    } else if (m_pending == comment) {
        m_out += std::exchange(m_pending, {});
        m_state = State::Comment;
        m_dashes = 0;
    } else if (m_pending == doctype) {
        m_pending.clear();
        m_state = State::Doctype;
        m_quote = 0;
        m_subset = false;
        m_inner = Inner::None;
        m_recent.clear();
    } else if (!doctype.startsWith(m_pending) && !comment.startsWith(m_pending)) {
        m_out += std::exchange(m_pending, {}); // the root element, or text that is no prolog at all
        m_state = State::Body;
    }
}

void PrologStripper::stepDoctype(char c) {
    // Dropped up to its closing '>': quoted literals, the internal subset and the comments and processing
    // instructions in it may all hold a '>' of their own.
    switch (m_inner) {
    case Inner::Comment:
        if (c == '>' && m_dashes >= 2)
            m_inner = Inner::None;
        m_dashes = c == '-' ? m_dashes + 1 : 0;
        return;
    case Inner::Instruction:
        if (c == '>' && m_previous == '?')
            m_inner = Inner::None;
        m_previous = c;
        return;
    case Inner::None:
        break;
    }
    if (m_quote) {
        if (c == m_quote)
            m_quote = 0;
        return;
    }
    if (c == '"' || c == '\'') {
        m_quote = c;
        return;
    }
    if (!m_subset) {
        if (c == '[')
            m_subset = true;
        else if (c == '>')
            m_state = State::LineBreak;
        return;
    }
    if (c == ']') {
        m_subset = false;
        return;
    }
    m_recent += c;
    if (m_recent.size() > 8)
        m_recent.remove(0, m_recent.size() - 8);
    if (m_recent.endsWith("<!--")) {
        m_inner = Inner::Comment;
        m_dashes = 0;
        m_recent.clear();
    } else if (m_recent.endsWith("<?")) {
        m_inner = Inner::Instruction;
        m_previous = 0;
        m_recent.clear();
    } else if (m_recent.endsWith("<!ENTITY")) {
        m_entities = true;
    }
}

} // namespace corvanta
