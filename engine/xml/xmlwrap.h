#pragma once

#include "engine/text/bytesink.h"

#include <QByteArray>
#include <QString>

namespace corvanta {

/// True when \a name may name the root element that wraps appended documents: an XML name without a colon.
bool isWrapRootName(const QString& name);

/// The text that opens a wrapped document: an XML declaration saying UTF-8, then the start tag of \a rootName,
/// each followed by a line break.
QByteArray wrapStart(const QString& rootName);
/// The end tag of \a rootName and a line break.
QByteArray wrapEnd(const QString& rootName);

/// Passes the text of an XML document on to another sink without what may stand only at the very start of a
/// document: the byte order mark, the XML declaration and the document type declaration, the last two each with
/// the line break that follows it. An XML declaration goes wherever it stands before the root element (after
/// leading white space, say), as inside the wrapping root none may. White space, comments and processing
/// instructions around them stay, and so does everything from the root element on. Takes the text (UTF-8) in pieces of
/// any size; only the few bytes that cannot be told yet are held back, so the body streams through as it comes.
class PrologStripper final : public ByteSink {
public:
    explicit PrologStripper(ByteSink& next)
        : m_next(next) {}

    void write(QByteArrayView bytes) override;
    /// Hands on what is still held back when the text ends.
    void finish();

    /// True when the removed document type declaration declared entities, which the text can no longer use.
    bool droppedEntityDeclarations() const { return m_entities; }

private:
    enum class State { Head, Declaration, LineBreak, AfterCr, Prolog, Markup, Comment, Instruction, Doctype, Body };
    enum class Inner { None, Comment, Instruction };

    void step(char c);
    void stepDoctype(char c);
    void decideHead();
    void decideMarkup();
    void feed(QByteArrayView bytes);
    void flush();

    ByteSink& m_next;
    State m_state = State::Head;
    QByteArray m_pending; // bytes whose part cannot be told yet
    QByteArray m_out;     // kept bytes not handed on yet
    char m_previous = 0;
    int m_dashes = 0;
    // Inside the document type declaration:
    char m_quote = 0;
    bool m_subset = false;
    Inner m_inner = Inner::None;
    QByteArray m_recent; // the last bytes outside quotes, comments and instructions
    bool m_entities = false;
};

} // namespace corvanta
