#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QList>
#include <QPair>
#include <QRandomGenerator>
#include <QString>
#include <vector>

/// Seeded random XML documents of one shape, for Merge: the same root name and number of top-level elements,
/// second-level nodes drawn from a few names so that some are already there and some move. They use namespaces
/// (prefixes rebound between documents, default namespaces and their undeclaration), xml:space scopes, mixed
/// content, predefined and character references, entities of the internal subset, comments, processing
/// instructions and CDATA. Each document can be written indented or compact.
class RandomDocuments {
public:
    explicit RandomDocuments(quint32 seed)
        : m_random(seed) {}

    /// One model node; text, CDATA, comment and instruction content is kept as it is written.
    struct Node {
        enum class Kind { Element, Text, CData, Comment, Instruction, EntityReference };
        Kind kind = Kind::Element;
        QByteArray name;       // qualified name, instruction target or entity name
        QByteArray attributes; // namespace declarations and attributes as written, each after a space
        QByteArray content;
        bool preserve = false;    // xml:space="preserve" set here
        bool resetsSpace = false; // xml:space="default" set here
        std::vector<Node> children;
    };

    struct Document {
        QByteArray prolog;
        Node root;
        QByteArray epilog;
    };

    /// The inputs of one Merge: two to four documents of one shape, written indented or compact at random.
    QByteArrayList nextInputs();
    /// One document of a fresh shape.
    Document nextDocument();
    /// \a document written out; indentation goes only where Merge counts white space as none: in elements without
    /// text of their own, outside xml:space="preserve".
    static QByteArray write(const Document& document, bool indented);

private:
    struct Shape {
        QByteArray rootName;
        int tops = 1;
        bool withEntities = false;
    };
    using Bindings = QList<QPair<QByteArray, QByteArray>>; // prefix in scope, most recent last

    Shape nextShape();
    Document document(const Shape& shape);
    Node element(const QByteArray& localName, Bindings& scope, bool& preserve, int depth);
    void fill(Node& parent, const Bindings& scope, bool preserve, int depth);
    Node secondLevel(Bindings& scope, bool preserve);
    /// Text, CDATA or an entity reference for mixed content (\a mixed), else white space.
    Node leaf(bool mixed, bool sharedEntitiesOnly = false);
    QByteArray text();
    QByteArray entityValue();

    int bounded(int lowest, int highest) { return int(m_random.bounded(lowest, highest)); }
    bool chance(int oneIn) { return m_random.bounded(oneIn) == 0; }
    template <typename T> const T& pick(const std::vector<T>& choices) {
        return choices[std::size_t(bounded(0, int(choices.size())))];
    }

    QRandomGenerator m_random;
    Shape m_shape;
    bool m_ownEntities = false; // the document being made declares the entities of its own
};
