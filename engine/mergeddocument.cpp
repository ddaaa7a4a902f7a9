#include "mergeddocument.h"

#include "failure.h"

#include <memory>
#include <mutex>
#include <new>

namespace corvanta {

namespace {

QString describeNodeType(const xmlNode* node) {
    switch (node->type) {
    case XML_TEXT_NODE:
        return QStringLiteral("a text node");
    case XML_CDATA_SECTION_NODE:
        return QStringLiteral("a CDATA section");
    case XML_COMMENT_NODE:
        return QStringLiteral("a comment");
    case XML_PI_NODE:
        return QStringLiteral("a processing instruction");
    case XML_ENTITY_REF_NODE:
        return QStringLiteral("an entity reference");
    default:
        return QStringLiteral("a node of type %1").arg(int(node->type));
    }
}

} // namespace

bool MergedNames::contains(qsizetype topIndex, std::string_view name) const {
    const std::shared_lock lock(m_mutex);
    return topIndex >= 0 && topIndex < qsizetype(m_sets.size()) && m_sets[std::size_t(topIndex)].count(name) != 0;
}

void MergedNames::resize(qsizetype count) {
    const std::unique_lock lock(m_mutex);
    m_sets.resize(std::size_t(count));
    m_pending.resize(std::size_t(count));
}

bool MergedNames::has(qsizetype topIndex, std::string_view name) const {
    return topIndex >= 0 && topIndex < qsizetype(m_sets.size()) &&
           (m_sets[std::size_t(topIndex)].count(name) != 0 || m_pending[std::size_t(topIndex)].count(name) != 0);
}

std::string_view MergedNames::insert(qsizetype topIndex, std::string_view name) {
    // A deque never moves its strings, so the parsers may read the published ones meanwhile.
    const std::string_view kept = m_kept.emplace_back(name);
    m_pending.at(std::size_t(topIndex)).insert(kept);
    if (++m_pendingCount >= 4096)
        publish();
    return kept;
}

void MergedNames::publish() {
    if (m_pendingCount == 0)
        return;
    const std::unique_lock lock(m_mutex);
    for (std::size_t j = 0; j < m_sets.size(); ++j)
        m_sets[j].merge(m_pending[j]);
    m_pendingCount = 0;
}

MergedDocument::MergedDocument(ParsedXml base, MergedNames& names)
    : m_doc(std::move(base.doc))
    , m_hasDeclaration(base.hasDeclaration)
    , m_names(names) {
    xmlNode* root = rootElement(m_doc.get());
    if (!root)
        return;
    bool textLikeTop = false;
    for (xmlNode* top = root->children; top; top = top->next) {
        m_tops.emplace_back().node = top;
        textLikeTop = textLikeTop || isTextLike(top);
    }
    const bool rootIndents = indentsChildren(root, textLikeTop);
    m_names.resize(qsizetype(m_tops.size()));
    m_mover.emplace(m_doc.get());
    for (qsizetype j = 0; j < qsizetype(m_tops.size()); ++j) {
        Top& top = m_tops[std::size_t(j)];
        // Only an element has child nodes; an entity reference's children are its declaration.
        if (top.node->type != XML_ELEMENT_NODE)
            continue;
        top.indentable = rootIndents && indentsChildren(top.node, false);
        for (xmlNode* child = top.node->children; child; child = child->next) {
            top.hasChildren = true;
            top.textLikeChild = top.textLikeChild || isTextLike(child);
            if (const std::string_view name = baseName(child); !name.empty())
                m_names.insert(j, name);
        }
        for (xmlNode* child = top.node->children; child; child = child->next)
            m_writer.write(child, top.indentable && !top.textLikeChild, top.children);
        // What is written goes at once, so that the next input, parsed meanwhile, reuses its memory.
        xmlFreeNodeList(top.node->children);
        top.node->children = top.node->last = nullptr;
    }
    m_names.publish();
}

void MergedDocument::takeNodesFrom(qsizetype sourceSize) {
    m_names.publish();
    if (m_mover)
        m_mover->setSource(sourceSize);
}

std::string_view MergedDocument::append(qsizetype topIndex, xmlNode* node) {
    Top& top = m_tops.at(std::size_t(topIndex));
    if (top.node->type != XML_ELEMENT_NODE || !m_mover)
        throw Failure(QStringLiteral("Cannot add \"%1\" to top-level node %2 of the first document: %3 cannot hold "
                                     "child nodes.")
                          .arg(QString::fromUtf8(baseName(node)))
                          .arg(topIndex + 1)
                          .arg(describeNodeType(top.node)));
    const TakenNodes taken = m_mover->take(node, top.node);
    for (xmlNode* piece = taken.nodes.get(); piece; piece = piece->next)
        write(top, piece);
    return m_names.insert(topIndex, taken.name);
}

void MergedDocument::write(Top& top, xmlNode* child) {
    if (isTextLike(child) && !top.textLikeChild) {
        top.textLikeChild = true;
        if (top.indentable)
            unindent(top);
    }
    top.hasChildren = true;
    m_writer.write(child, top.indentable && !top.textLikeChild, top.children);
}

// A text-like child turns the indentation of its siblings off, also of those written already: they are read
// back as the inputs are and written again as they are. Rare: only a document type brings entity references to
// the second level.
void MergedDocument::unindent(Top& top) {
    if (top.children.isEmpty())
        return;
    ParsedXml siblings = parseXml(siblingsAsDocument(top), QString());
    // Read back as the inputs were, the text never fails; if it did, the siblings would rather keep their
    // indentation than be lost.
    const xmlNode* wrapper = rootElement(siblings.doc.get());
    if (!wrapper)
        return;
    top.children.clear();
    for (xmlNode* node = wrapper->children; node; node = node->next)
        m_writer.write(node, false, top.children);
}

// The written children of top as a document of their own: under an element that declares the namespaces in
// scope at top, after the entities the first document declares. An external subset, which is never read, makes
// a reference to any other entity (one left unresolved by a merge) stay a reference.
QByteArray MergedDocument::siblingsAsDocument(const Top& top) const {
    QByteArray text = "<!DOCTYPE x SYSTEM \"unread\" [\n";
    // Only the entities: attribute defaults and the like would add to what is read back.
    if (const xmlDtd* dtd = m_doc->intSubset) {
        const std::unique_ptr<xmlBuffer, decltype(&xmlBufferFree)> buffer(xmlBufferCreate(), &xmlBufferFree);
        if (!buffer)
            throw std::bad_alloc();
        for (xmlNode* node = dtd->children; node; node = node->next)
            if (node->type == XML_ENTITY_DECL)
                xmlNodeDump(buffer.get(), nullptr, node, 0, 0);
        text.append(reinterpret_cast<const char*>(xmlBufferContent(buffer.get())), xmlBufferLength(buffer.get()));
    }
    text += "]>\n<x";
    std::unordered_set<std::string_view> declared;
    for (const xmlNode* at = top.node; at && at->type == XML_ELEMENT_NODE; at = at->parent)
        for (const xmlNs* ns = at->nsDef; ns; ns = ns->next) {
            const std::string_view prefix = ns->prefix ? reinterpret_cast<const char*>(ns->prefix) : "";
            if (!declared.insert(prefix).second)
                continue; // shadowed by a declaration further in
            text += prefix.empty() ? QByteArray(" xmlns=\"")
                                   : " xmlns:" + QByteArray(prefix.data(), qsizetype(prefix.size())) + "=\"";
            text += QByteArray(reinterpret_cast<const char*>(ns->href))
                        .replace('&', "&amp;")
                        .replace('<', "&lt;")
                        .replace('"', "&quot;")
                        .replace('\t', "&#9;")
                        .replace('\n', "&#10;")
                        .replace('\r', "&#13;");
            text += '"';
        }
    text += '>';
    for (const QByteArray& chunk : top.children.chunks())
        text += chunk;
    text += "</x>";
    return text;
}

void MergedDocument::save(const QString& path) {
    if (!rootElement(m_doc.get()))
        return;
    std::vector<WrittenChildren> written;
    for (Top& top : m_tops)
        if (top.hasChildren)
            written.push_back({top.node, top.indentable && !top.textLikeChild, &top.children});
    saveXmlDocument(m_doc.get(), path, m_hasDeclaration, written);
}

} // namespace corvanta
