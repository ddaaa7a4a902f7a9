#include "engine/xml/mergeddocument.h"

#include "engine/text/failure.h"
#include "engine/xml/recordednode.h"

#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <thread>
#include <unordered_map>
#include <unordered_set>

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

// A copy of element, without its children, as the last child of parent in doc (its root when parent is null):
// its name, namespace, namespace declarations and attributes, which are all that a node moved below it reads.
xmlNode* copyShell(const xmlNode* element, xmlDoc* doc, xmlNode* parent) {
    xmlNode* copy = xmlNewDocNode(doc, nullptr, element->name, nullptr);
    if (!copy)
        throw std::bad_alloc();
    if (parent)
        xmlAddChild(parent, copy);
    else
        xmlDocSetRootElement(doc, copy);
    if (element->nsDef && !(copy->nsDef = xmlCopyNamespaceList(element->nsDef)))
        throw std::bad_alloc();
    if (element->ns)
        copy->ns = xmlSearchNs(doc, copy, element->ns->prefix);
    if (element->properties && !(copy->properties = xmlCopyPropList(copy, element->properties)))
        throw std::bad_alloc();
    return copy;
}

QByteArrayView asView(std::string_view name) {
    return {name.data(), qsizetype(name.size())};
}

} // namespace

bool MergedNames::contains(qsizetype topIndex, std::string_view name) const {
    const std::shared_lock lock(m_mutex);
    return topIndex >= 0 && topIndex < qsizetype(m_sets.size()) && m_sets[std::size_t(topIndex)].contains(asView(name));
}

void MergedNames::resize(qsizetype count) {
    // A writer that waited for the lock would wait for the parsers ahead to end (see publish()); each of them holds
    // it for one look-up at a time, so it is free again within moments.
    std::unique_lock lock(m_mutex, std::try_to_lock);
    while (!lock.owns_lock()) {
        std::this_thread::yield();
        lock.try_lock();
    }
    m_sets.resize(std::size_t(count));
    m_pending.resize(std::size_t(count));
}

bool MergedNames::has(qsizetype topIndex, std::string_view name) const {
    return topIndex >= 0 && topIndex < qsizetype(m_sets.size()) &&
           (m_sets[std::size_t(topIndex)].contains(asView(name)) ||
            m_pending[std::size_t(topIndex)].contains(asView(name)));
}

std::string_view MergedNames::insert(qsizetype topIndex, std::string_view name) {
    // Kept names never move, so the parsers may read the published ones meanwhile.
    const std::string_view kept = copyName(m_kept, name);
    m_pending.at(std::size_t(topIndex)).insert(asView(kept));
    if (++m_pendingCount >= 4096)
        publish();
    return kept;
}

void MergedNames::publish() {
    if (m_pendingCount == 0)
        return;
    // The parsers take the shared lock for every element they meet: a merging thread that waited for the unique
    // one would wait for them to end, as a waiting writer lets new readers in.
    const std::unique_lock lock(m_mutex, std::try_to_lock);
    if (!lock.owns_lock())
        return;
    for (std::size_t j = 0; j < m_sets.size(); ++j) {
        m_sets[j].unite(m_pending[j]);
        m_pending[j].clear();
    }
    m_pendingCount = 0;
}

AheadWriter::AheadWriter(TargetSource source, qsizetype sourceSize, const QString& folder)
    : m_source(std::move(source))
    , m_sourceSize(sourceSize)
    , m_folder(folder)
    , m_text(folder, kAheadTextMemory) {}

AheadWriter::AheadWriter(std::shared_ptr<const WriteAheadTarget> target, qsizetype sourceSize, const QString& folder)
    : AheadWriter([target = std::move(target)](qsizetype) { return target; }, sourceSize, folder) {}

// The first document's top-level element that the elements under \a topIndex are written for; null when they are
// to stay nodes.
const WriteAheadTarget::Top* AheadWriter::topAt(qsizetype topIndex) {
    if (!m_target || !m_target->covers(topIndex)) {
        std::shared_ptr<const WriteAheadTarget> target = m_source(topIndex);
        if (!target || !target->covers(topIndex))
            return nullptr;
        if (!m_target || target->doc != m_target->doc) {
            m_mover.emplace(target->doc.get());
            m_mover->setSource(m_sourceSize);
        }
        m_target = std::move(target);
    }
    if (topIndex < 0 || topIndex >= qsizetype(m_target->tops.size()))
        return nullptr; // the structure check stops the merge before this input
    const WriteAheadTarget::Top& top = m_target->tops[std::size_t(topIndex)];
    return top.node ? &top : nullptr; // without one, the merge reports that the node there cannot hold them
}

bool AheadWriter::take(qsizetype topIndex, xmlNode* element) {
    const WriteAheadTarget::Top* top = topAt(topIndex);
    if (!top)
        return false;
    const qsizetype before = m_text.size();
    const TakenNodes taken = m_mover->take(element, top->node);
    for (xmlNode* piece = taken.nodes.get(); piece; piece = piece->next)
        m_writer.write(piece, top->indented, m_text);
    m_written.push_back({m_text.size() - before, top->indented});
    return true;
}

bool AheadWriter::beginTop(qsizetype topIndex, std::span<const NamespaceDeclaration> rootDeclarations,
                           std::span<const NamespaceDeclaration> topDeclarations) {
    const WriteAheadTarget::Top* top = topAt(topIndex);
    if (!top)
        return false;
    // The namespaces in scope, by prefix ("" for the default, "" when there is none), here and there.
    std::unordered_map<std::string_view, std::string_view> here;
    for (const auto* declarations : {&rootDeclarations, &topDeclarations})
        for (const NamespaceDeclaration& declaration : *declarations)
            here[declaration.prefix] = declaration.uri;
    std::unordered_map<std::string_view, std::string_view> there;
    for (const xmlNode* element = top->node; element && element->type == XML_ELEMENT_NODE; element = element->parent)
        for (const xmlNs* ns = element->nsDef; ns; ns = ns->next) {
            const std::string_view prefix = ns->prefix ? reinterpret_cast<const char*>(ns->prefix) : "";
            there.emplace(prefix, ns->href ? reinterpret_cast<const char*>(ns->href) : "");
        }
    const auto bound = [](const auto& scope, std::string_view prefix) {
        const auto found = scope.find(prefix);
        return found != scope.end() ? std::optional(found->second) : std::nullopt;
    };
    for (const auto& [prefix, uri] : here)
        if (!prefix.empty() && bound(there, prefix) != std::optional(uri))
            return false;
    return bound(there, "").value_or("") == bound(here, "").value_or("");
}

bool AheadWriter::add(qsizetype topIndex, const RecordedNode& element, std::string_view /*keptName*/) {
    const WriteAheadTarget::Top& top = *topAt(topIndex);
    const qsizetype before = m_text.size();
    m_text.append(element.written(top.indented, 2));
    m_written.push_back({m_text.size() - before, top.indented});
    return true;
}

void AheadWriter::forget() {
    m_text = SpillingText(m_folder, kAheadTextMemory);
    m_written.clear();
    m_next = 0;
    m_nextStart = 0;
    m_position = 0;
}

// Starts past what a failed move left behind.
const AheadWriter::Written& AheadWriter::takeNext() {
    const Written& next = m_written.at(m_next++);
    m_position = m_nextStart;
    m_nextStart += next.length;
    return next;
}

void AheadWriter::moveNext(ChunkedText& into) {
    m_text.read(m_position, takeNext().length, [&into](QByteArrayView block) { into.append(block); });
}

void AheadWriter::moveNext(SplicedText& into) {
    m_text.spliceInto(into, m_position, takeNext().length);
}

bool FirstChildrenWriter::take(qsizetype topIndex, xmlNode* element) {
    const xmlNode* top = element->parent;
    if (element->prev || !indentsChildren(top->parent, false) || !indentsChildren(top, false))
        return false;
    Top& written = topAt(topIndex);
    m_writer.write(element, true, written.children);
    written.names.push_back(baseName(element));
    xmlUnlinkNode(element);
    xmlFreeNode(element);
    return true;
}

// What was written is right if the children were indented after all: no text-like node beside them, nor beside
// their top-level element.
FirstChildrenWriter::Top& FirstChildrenWriter::topAt(qsizetype topIndex) {
    while (topIndex >= qsizetype(m_tops.size()))
        m_tops.push_back({SplicedText(m_folder, kAheadTextMemory), {}});
    return m_tops[std::size_t(topIndex)];
}

bool FirstChildrenWriter::beginTop(qsizetype topIndex, std::span<const NamespaceDeclaration> rootDeclarations,
                                   std::span<const NamespaceDeclaration> topDeclarations) {
    // Each target is made anew with every top-level element before it: only the first few are announced, which
    // is where a document of records has its lists.
    constexpr qsizetype kAnnouncedTops = 64;
    if (!m_announce || topIndex >= kAnnouncedTops)
        return true;
    const auto owned = [](std::span<const NamespaceDeclaration> declarations) {
        Declarations list;
        for (const NamespaceDeclaration& declaration : declarations)
            list.emplace_back(declaration.prefix, declaration.uri);
        return list;
    };
    try {
        m_rootDeclarations = owned(rootDeclarations);
        if (topIndex >= qsizetype(m_announced.size()))
            m_announced.resize(std::size_t(topIndex) + 1);
        m_announced[std::size_t(topIndex)] = owned(topDeclarations);
        m_announce(provisionalTarget());
    } catch (const std::bad_alloc&) {
        m_announce = {}; // the inputs ahead wait for the whole first document, as they would for a large one
    }
    return true;
}

// Names that nothing reads: below a provisional target's elements, only the namespaces they declare matter.
std::shared_ptr<const WriteAheadTarget> FirstChildrenWriter::provisionalTarget() const {
    std::shared_ptr<xmlDoc> doc(xmlNewDoc(xmlChars("1.0")), XmlDeleter());
    if (!doc)
        throw std::bad_alloc();
    const auto shell = [&](xmlNode* parent, std::string_view name, const Declarations& declarations) {
        std::vector<NamespaceDeclaration> list;
        for (const auto& [prefix, uri] : declarations)
            list.push_back({prefix, uri});
        return elementFromStartTag(doc.get(), parent, name, list);
    };
    xmlNode* root = shell(nullptr, "root", m_rootDeclarations);
    auto target = std::make_shared<WriteAheadTarget>();
    target->provisional = true;
    for (const std::optional<Declarations>& top : m_announced)
        target->tops.push_back({top ? shell(root, "top", *top) : nullptr, true});
    target->doc = std::move(doc);
    return target;
}

bool FirstChildrenWriter::add(qsizetype topIndex, const RecordedNode& element, std::string_view keptName) {
    Top& written = topAt(topIndex);
    written.children.append(element.written(true, 2));
    written.names.push_back(keptName);
    return true;
}

bool FirstChildrenWriter::fits(const xmlNode* root) const {
    if (!root)
        return false;
    qsizetype j = 0;
    for (const xmlNode* top = root->children; top; top = top->next, ++j) {
        if (isTextLike(top))
            return false;
        if (j < qsizetype(m_tops.size()) && !m_tops[std::size_t(j)].names.empty())
            for (const xmlNode* child = top->children; child; child = child->next)
                if (isTextLike(child))
                    return false;
    }
    return true;
}

MergedDocument::MergedDocument(ParsedXml base, MergedNames& names, FirstChildrenWriter* written, const QString& folder)
    : m_doc(base.doc.release(), XmlDeleter())
    , m_folder(folder)
    , m_hasDeclaration(base.hasDeclaration)
    , m_names(names) {
    xmlNode* root = rootElement(m_doc.get());
    if (!root)
        return;
    bool textLikeTop = false;
    for (xmlNode* top = root->children; top; top = top->next) {
        m_tops.emplace_back().node = top;
        m_tops.back().children = SplicedText(m_folder);
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
        if (written && j < qsizetype(written->m_tops.size())) {
            FirstChildrenWriter::Top& taken = written->m_tops[std::size_t(j)];
            top.hasChildren = !taken.names.empty();
            top.children = std::move(taken.children);
            for (const std::string_view name : taken.names)
                m_names.insert(j, name);
        }
        for (xmlNode* child = top.node->children; child; child = child->next) {
            top.hasChildren = true;
            top.textLikeChild = top.textLikeChild || isTextLike(child);
            if (const std::string_view name = baseName(child); !name.empty())
                m_names.insert(j, name);
        }
    }
    m_names.publish();
}

void MergedDocument::writeFirstChildren(const std::stop_token& stop) {
    for (Top& top : m_tops) {
        if (top.node->type != XML_ELEMENT_NODE)
            continue;
        for (xmlNode* child = top.node->children; child; child = child->next) {
            if (stop.stop_requested())
                throw StopRequested{};
            m_writer.write(child, top.indentable && !top.textLikeChild, top.children);
        }
        // What is written goes at once, so that the inputs parsed meanwhile reuse its memory. The writers ahead
        // never see it: they read a copy (see writeAheadTarget()).
        xmlFreeNodeList(top.node->children);
        top.node->children = top.node->last = nullptr;
    }
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

std::string_view MergedDocument::appendWritten(qsizetype topIndex, std::string_view name, AheadWriter& from) {
    Top& top = m_tops.at(std::size_t(topIndex));
    top.hasChildren = true;
    if (from.nextIndented() == (top.indentable && !top.textLikeChild)) {
        from.moveNext(top.children);
    } else {
        // Written ahead with indentation that a text-like sibling has turned off since.
        ChunkedText written;
        from.moveNext(written);
        writeUnindented(top, written, top.children);
    }
    return m_names.insert(topIndex, name);
}

std::shared_ptr<const WriteAheadTarget> MergedDocument::writeAheadTarget() {
    if (!m_aheadTarget) {
        // What the writers read of the first document never changes (nothing is ever declared on it), so one copy
        // serves every target; only the indentation differs from one to the next.
        if (!m_skeleton)
            makeSkeleton();
        auto target = std::make_shared<WriteAheadTarget>();
        target->doc = m_skeleton;
        for (std::size_t j = 0; j < m_tops.size(); ++j)
            target->tops.push_back({m_skeletonTops[j], m_tops[j].indentable && !m_tops[j].textLikeChild});
        m_aheadTarget = std::move(target);
    }
    return m_aheadTarget;
}

void MergedDocument::makeSkeleton() {
    if (!m_doc)
        return; // nothing to copy, and no top-level node to write for
    XmlDocument copy(xmlNewDoc(m_doc->version));
    if (!copy)
        throw std::bad_alloc();
    // The entity declarations decide whether a moved reference stays a reference.
    if (m_doc->intSubset) {
        xmlDtd* dtd = xmlCopyDtd(m_doc->intSubset);
        if (!dtd)
            throw std::bad_alloc();
        copy->intSubset = dtd;
        dtd->parent = copy.get();
        xmlSetTreeDoc(reinterpret_cast<xmlNode*>(dtd), copy.get());
    }
    std::vector<const xmlNode*> tops;
    if (const xmlNode* root = rootElement(m_doc.get())) {
        xmlNode* rootCopy = copyShell(root, copy.get(), nullptr);
        for (const Top& top : m_tops)
            tops.push_back(top.node->type == XML_ELEMENT_NODE ? copyShell(top.node, copy.get(), rootCopy) : nullptr);
    }
    m_skeleton = std::shared_ptr<const xmlDoc>(copy.release(), XmlDeleter());
    m_skeletonTops = std::move(tops);
}

void MergedDocument::write(Top& top, xmlNode* child) {
    if (isTextLike(child) && !top.textLikeChild) {
        top.textLikeChild = true;
        m_aheadTarget.reset();
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
    ChunkedText written;
    top.children.readAll([&written](QByteArrayView block) { written.append(block); });
    top.children = SplicedText(m_folder);
    writeUnindented(top, written, top.children);
}

// Appends children of top written with indentation to into as they are without it.
void MergedDocument::writeUnindented(const Top& top, const ChunkedText& written, SplicedText& into) {
    ChunkedText rewritten;
    writeWithoutIndentation(m_doc.get(), top.node, written, rewritten, m_writer);
    for (const QByteArray& chunk : rewritten.chunks())
        into.append(chunk);
}

namespace {

// Children of parent as written, as a document of their own: under an element that declares the namespaces in
// scope at parent, after the entities doc declares. An external subset, which is never read, makes a reference to
// any other entity (one left unresolved by a merge) stay a reference.
QByteArray asChildrenOf(const xmlDoc* doc, const xmlNode* parent, const ChunkedText& written) {
    QByteArray text = "<!DOCTYPE x SYSTEM \"unread\" [\n";
    // Only the entities: attribute defaults and the like would add to what is read back.
    if (const xmlDtd* dtd = doc->intSubset) {
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
    for (const xmlNode* at = parent; at && at->type == XML_ELEMENT_NODE; at = at->parent)
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
    for (const QByteArray& chunk : written.chunks())
        text += chunk;
    text += "</x>";
    return text;
}

} // namespace

void writeWithoutIndentation(const xmlDoc* doc, const xmlNode* parent, const ChunkedText& written, ChunkedText& into,
                             NodeWriter& writer) {
    ParsedXml siblings = parseXml(asChildrenOf(doc, parent, written), QString());
    // Read back as the inputs were, the text never fails; if it did, the siblings would rather keep their
    // indentation than be lost.
    const xmlNode* wrapper = rootElement(siblings.doc.get());
    if (!wrapper) {
        for (const QByteArray& chunk : written.chunks())
            into.append(chunk);
        return;
    }
    for (xmlNode* node = wrapper->children; node; node = node->next)
        writer.write(node, false, into);
}

void MergedDocument::save(const QString& path, const std::stop_token& stop) {
    if (!rootElement(m_doc.get()))
        return;
    std::vector<WrittenChildren> written;
    for (Top& top : m_tops)
        if (top.hasChildren)
            written.push_back({top.node, top.indentable && !top.textLikeChild, nullptr, 2, &top.children});
    saveXmlDocument(m_doc.get(), path, m_hasDeclaration, written, stop);
}

} // namespace corvanta
