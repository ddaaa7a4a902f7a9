#include "tests/property/randomdocuments.h"

namespace {

using Node = RandomDocuments::Node;

Node node(Node::Kind kind, const QByteArray& name, const QByteArray& content = {}) {
    Node made;
    made.kind = kind;
    made.name = name;
    made.content = content;
    return made;
}

bool holdsText(const Node& element) {
    for (const Node& child : element.children)
        if ((child.kind == Node::Kind::Text && !child.content.trimmed().isEmpty()) || child.kind == Node::Kind::CData ||
            child.kind == Node::Kind::EntityReference)
            return true;
    return false;
}

void writeNode(QByteArray& out, const Node& node, bool indented, int depth, bool preserveScope) {
    switch (node.kind) {
    case Node::Kind::Text:
        out += node.content;
        return;
    case Node::Kind::CData:
        out += "<![CDATA[" + node.content + "]]>";
        return;
    case Node::Kind::Comment:
        out += "<!--" + node.content + "-->";
        return;
    case Node::Kind::Instruction:
        out += "<?" + node.name + (node.content.isEmpty() ? QByteArray() : " " + node.content) + "?>";
        return;
    case Node::Kind::EntityReference:
        out += "&" + node.name + ";";
        return;
    case Node::Kind::Element:
        break;
    }
    out += "<" + node.name + node.attributes;
    if (node.children.empty()) {
        out += "/>";
        return;
    }
    out += ">";
    const bool preserve = node.preserve || (preserveScope && !node.resetsSpace);
    const bool indent = indented && !preserve && !holdsText(node);
    for (const Node& child : node.children) {
        if (indent)
            out += "\n" + QByteArray(2 * qsizetype(depth + 1), ' ');
        writeNode(out, child, indented, depth + 1, preserve);
    }
    if (indent)
        out += "\n" + QByteArray(2 * qsizetype(depth), ' ');
    out += "</" + node.name + ">";
}

} // namespace

QByteArrayList RandomDocuments::nextInputs() {
    const Shape shape = nextShape();
    QByteArrayList inputs;
    for (int count = bounded(2, 5); inputs.size() < count;)
        inputs << write(document(shape), chance(2));
    return inputs;
}

RandomDocuments::Document RandomDocuments::nextDocument() {
    return document(nextShape());
}

QByteArray RandomDocuments::write(const Document& document, bool indented) {
    QByteArray out = document.prolog;
    writeNode(out, document.root, indented, 0, false);
    return out + "\n" + document.epilog;
}

RandomDocuments::Shape RandomDocuments::nextShape() {
    Shape shape;
    shape.rootName = chance(3) ? "root" : "r";
    shape.tops = bounded(1, 4);
    shape.withEntities = !chance(3);
    return shape;
}

RandomDocuments::Document RandomDocuments::document(const Shape& shape) {
    m_shape = shape;
    m_ownEntities = shape.withEntities && chance(2);
    Document doc;
    if (chance(2))
        doc.prolog += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    if (chance(4))
        doc.prolog += "<!--before the root-->\n";
    Bindings scope;
    bool preserve = false;
    doc.root = element(shape.rootName, scope, preserve, 0);
    if (shape.withEntities) {
        // No element declarations: a document type that names an external subset is not validated, so its
        // internal subset only declares entities. Those of the second level are the same everywhere; the own ones
        // differ between documents and must keep their meaning where they move.
        doc.prolog += "<!DOCTYPE " + doc.root.name + " SYSTEM \"absent.dtd\" [\n<!ENTITY s0 \"shared\">\n" +
                      "<!ENTITY s1 \"caf&#233; &#x51CD;\">\n<!ENTITY v0 \"" + entityValue() + "\">\n";
        if (m_ownEntities)
            doc.prolog += "<!ENTITY v1 \"" + entityValue() + "\">\n";
        doc.prolog += "]>\n";
    }
    if (chance(4))
        doc.prolog += "<?before root?>\n";
    for (int j = 0; j < shape.tops; ++j) {
        Bindings topScope = scope;
        bool topPreserve = preserve;
        Node top = element("t" + QByteArray::number(chance(4) ? bounded(0, 9) : j), topScope, topPreserve, 1);
        const bool mixed = chance(6);
        for (int i = bounded(0, 6); i > 0; --i) {
            if (mixed && chance(2))
                top.children.push_back(leaf(true, true));
            top.children.push_back(secondLevel(topScope, topPreserve));
        }
        doc.root.children.push_back(std::move(top));
    }
    if (chance(4))
        doc.epilog = "<!--after the root-->\n";
    return doc;
}

RandomDocuments::Node RandomDocuments::element(const QByteArray& localName, Bindings& scope, bool& preserve,
                                               int depth) {
    static const std::vector<QByteArray> uris{"urn:a", "urn:b", "urn:c"};
    static const std::vector<QByteArray> prefixes{"p", "q", "s"};
    Node node;
    if (chance(4)) {
        const QByteArray uri = chance(3) ? QByteArray() : pick(uris);
        node.attributes += " xmlns=\"" + uri + "\"";
    }
    if (chance(3)) {
        const QByteArray prefix = pick(prefixes);
        node.attributes += " xmlns:" + prefix + "=\"" + pick(uris) + "\"";
        scope.append({prefix, QByteArray()});
    }
    const auto boundPrefix = [&]() -> QByteArray {
        return scope.isEmpty() ? QByteArray() : scope[bounded(0, int(scope.size()))].first;
    };
    const QByteArray prefix = chance(2) ? boundPrefix() : QByteArray();
    node.name = prefix.isEmpty() ? localName : prefix + ":" + localName;
    for (int k = bounded(0, 3); k > 0; --k) {
        static const std::vector<QByteArray> values{"1", "a &amp; b", "&lt;x&gt; &quot;q&quot;", "caf&#233;",
                                                    "two  spaces"};
        const QByteArray attributePrefix = chance(3) ? boundPrefix() : QByteArray();
        QByteArray value = pick(values);
        if (m_shape.withEntities && depth >= 2 && chance(3))
            value += chance(2) ? "&v0;" : "&s1;";
        node.attributes += " " + (attributePrefix.isEmpty() ? QByteArray() : attributePrefix + ":") + "k" +
                           QByteArray::number(k) + "=\"" + value + "\"";
    }
    if (chance(6)) {
        node.preserve = true;
        node.attributes += " xml:space=\"preserve\"";
    } else if (preserve && chance(3)) {
        node.resetsSpace = true;
        node.attributes += " xml:space=\"default\"";
    }
    preserve = node.preserve || (preserve && !node.resetsSpace);
    return node;
}

void RandomDocuments::fill(Node& parent, const Bindings& scope, bool preserve, int depth) {
    if (depth > 5 || chance(4))
        return;
    const bool mixed = chance(2);
    for (int i = bounded(1, 5); i > 0; --i) {
        if (mixed || (preserve && chance(2))) // white space that counts: mixed content or a preserve scope
            parent.children.push_back(leaf(mixed));
        switch (bounded(0, 6)) {
        case 0:
            parent.children.push_back(node(Node::Kind::Comment, {}, "c" + QByteArray::number(bounded(0, 9))));
            break;
        case 1:
            parent.children.push_back(node(Node::Kind::Instruction, "i" + QByteArray::number(bounded(0, 3)),
                                           chance(2) ? QByteArray("data") : QByteArray()));
            break;
        default: {
            Bindings childScope = scope;
            bool childPreserve = preserve;
            static const std::vector<QByteArray> names{"a", "b", "c", "d"};
            Node child = element(pick(names), childScope, childPreserve, depth);
            fill(child, childScope, childPreserve, depth + 1);
            parent.children.push_back(std::move(child));
        }
        }
    }
    if (mixed && chance(2))
        parent.children.push_back(leaf(true));
}

RandomDocuments::Node RandomDocuments::secondLevel(Bindings& scope, bool preserve) {
    const QByteArray name = "n" + QByteArray::number(bounded(0, 6));
    switch (bounded(0, 10)) {
    case 0:
        return node(Node::Kind::Instruction, name, chance(2) ? QByteArray("data") : QByteArray());
    case 1:
        return node(Node::Kind::Comment, {}, "second " + name);
    case 2:
        if (m_shape.withEntities)
            return node(Node::Kind::EntityReference, chance(2) ? "s0" : "s1");
        [[fallthrough]];
    default: {
        Bindings childScope = scope;
        bool childPreserve = preserve;
        Node node = element(name, childScope, childPreserve, 2);
        fill(node, childScope, childPreserve, 3);
        return node;
    }
    }
}

RandomDocuments::Node RandomDocuments::leaf(bool mixed, bool sharedEntitiesOnly) {
    if (!mixed)
        return node(Node::Kind::Text, {}, chance(2) ? " " : "\n ");
    switch (bounded(0, 8)) {
    case 0:
        return node(Node::Kind::CData, {}, chance(2) ? "a < b && c" : " ");
    case 1:
        if (m_shape.withEntities) {
            static const std::vector<QByteArray> shared{"s0", "s1"};
            static const std::vector<QByteArray> all{"s0", "s1", "v0"};
            if (sharedEntitiesOnly)
                return node(Node::Kind::EntityReference, pick(shared));
            return node(Node::Kind::EntityReference, m_ownEntities && chance(3) ? "v1" : pick(all));
        }
        [[fallthrough]];
    case 2:
        return node(Node::Kind::Text, {}, " ");
    default:
        return node(Node::Kind::Text, {}, text());
    }
}

QByteArray RandomDocuments::text() {
    static const std::vector<QByteArray> texts{"tea",
                                               "milk &amp; honey",
                                               "a &lt; b &gt; c",
                                               "&#233;t&#xE9;",
                                               "\xE5\x87\x8D\xE9\xA0\x82",
                                               " two  spaces ",
                                               "line\nbreak",
                                               "&quot;q&quot; &apos;a&apos;",
                                               "\t"};
    return pick(texts);
}

QByteArray RandomDocuments::entityValue() {
    static const std::vector<QByteArray> values{"alpha", "beta", "&#233;gal", "x &#38;#38; y"};
    return pick(values);
}
