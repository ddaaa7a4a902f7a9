#include "engine/xml/xmlparser.h"

#include "engine/xml/attributelimit.h"
#include "engine/xml/rootchildrenreader.h"
#include "engine/xml/unmarkedtext.h"

#include <QFileInfo>
#include <QUrl>
#include <algorithm>
#include <cstring>
#include <exception>
#include <iterator>
#include <libxml/SAX2.h>
#include <libxml/catalog.h>
#include <libxml/globals.h>
#include <libxml/parserInternals.h>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace corvanta {

std::string_view KeptNames::keep(std::string_view name) {
    const QByteArrayView key(name.data(), qsizetype(name.size()));
    if (const auto found = m_names.constFind(key); found != m_names.constEnd())
        return {found->data(), std::size_t(found->size())};
    if (!m_memory)
        m_memory = std::make_unique<std::pmr::monotonic_buffer_resource>();
    const std::string_view copy = copyName(*m_memory, name);
    m_names.insert(QByteArrayView(copy.data(), key.size()));
    return copy;
}

std::string_view copyName(std::pmr::memory_resource& memory, std::string_view name) {
    char* copy = static_cast<char*>(memory.allocate(std::max<std::size_t>(name.size(), 1), 1));
    std::memcpy(copy, name.data(), name.size());
    return {copy, name.size()};
}

namespace {

/// White space that libxml2 left out as indentation, kept aside until its element ends.
struct PendingBlank {
    xmlNode* parent;
    xmlNode* after; // the child it followed; null when it came first
    std::size_t offset;
    std::size_t length;
};

/// What outlineXml() keeps of the root's children: their tally instead of the nodes (see settleRoot()).
struct RootOutline {
    xmlNode* root = nullptr;
    const xmlNode* settled = nullptr; // the last child tallied; those before it are tallied or freed
    qsizetype alive = 0;              // children tallied and still in the tree
    qsizetype nodes = 0;              // children tallied
    qsizetype textNodes = 0;
    bool blankText = false;    // a text node tallied holds only white space
    bool text = false;         // a node tallied makes the root hold text (see holdsText())
    qsizetype blankRuns = 0;   // runs of white space that keepBlankAside() would have kept aside
    qsizetype blankRunAt = -1; // the number of children when the last run came
    bool typed = false;        // a document type was met
    bool sawXmlId = false;
};

/// What one parser run learns besides its document.
struct ParseRun {
    xmlParserCtxt* context = nullptr;
    bool externalRefused = false;
    bool haveError = false;
    bool outOfMemory = false;
    XmlParseError firstError;
    std::vector<PendingBlank> blanks;
    std::string blankText;
    // Leaving out second-level elements (see parseXml()).
    const SkippableNames* skippable = nullptr;
    int skipDepth = 0;                                              // > 0 inside an element left out
    xmlNode* top = nullptr;                                         // the top-level element being parsed
    qsizetype topIndex = -1;                                        // its place among the root's children
    xmlNode* counted = nullptr;                                     // the root's last child counted so far
    std::vector<std::pair<const xmlNode*, qsizetype>> skippedUnder; // top-level elements that lost children
    const xmlNode* namedCounted = nullptr;                          // top's last child counted so far
    qsizetype named = 0;                                            // top's children with a base name up to it
    std::vector<LeftOutElement> leftOut;
    // Taking second-level elements out as they complete (see parseXml()).
    ElementTaker* taker = nullptr;
    bool topPreserve = false; // whether xml:space="preserve" holds inside top
    // Taking the root's children instead (see ElementTaker::takesRootChildren()).
    bool takeRootChildren = false;
    bool rootPreserve = false; // whether xml:space="preserve" holds inside the root
    qsizetype rootChildrenTaken = 0;
    std::exception_ptr failure;         // what a callback or the taker threw: it cannot pass through libxml2
    qsizetype tooManyAttributesAt = -1; // where the text holds a start tag that AttributeLimit refuses
    // The namespace declarations in scope, innermost last per prefix ("" for the default namespace); kept only
    // in a document without a document type (see startElement()).
    bool ownScopes = false;
    std::unordered_map<std::string_view, std::vector<xmlNs*>> scopes;
    std::vector<std::string_view> declared;                     // prefixes declared, in order
    std::vector<std::pair<const xmlNode*, std::size_t>> opened; // open elements with declared's size before them
    std::vector<const xmlChar*> attributes;                     // scratch of startElement(), kept for its memory
    std::vector<xmlNs*> attributeNs;
    // Set by outlineXml(): below the root only its children are built, and only its first and last stay.
    RootOutline* outline = nullptr;
};

// The entity loader and the error handler are plain callbacks; this finds the run they belong to.
thread_local ParseRun* t_activeRun = nullptr;

ParseRun* runOf(const void* context) {
    return t_activeRun && t_activeRun->context == context ? t_activeRun : nullptr;
}

class ActiveRun {
public:
    explicit ActiveRun(ParseRun& run)
        : m_previous(t_activeRun) {
        t_activeRun = &run;
    }
    ~ActiveRun() { t_activeRun = m_previous; }
    ActiveRun(const ActiveRun&) = delete;
    ActiveRun& operator=(const ActiveRun&) = delete;

private:
    ParseRun* m_previous;
};

// libxml2's words, but for its limits, which it explains with an option that no user can set.
QString describe(const xmlError& error) {
    QString message = QString::fromUtf8(error.message).trimmed();
    if (!message.contains(QLatin1String("XML_PARSE_HUGE")))
        return message;
    if (error.code == XML_ERR_ELEMCONTENT_NOT_FINISHED) // int1 is the depth reached, one past the limit
        return QStringLiteral("Element content declaration nested deeper than %1 levels").arg(error.int1 - 1);
    if (message.startsWith(QLatin1String("Excessive depth in document"))) // int1 is the limit
        return QStringLiteral("Excessive depth in document: nesting deeper than %1 levels").arg(error.int1);
    return message;
}

void captureError(void* userData, xmlError* error) {
    ParseRun* run = runOf(userData);
    // libxml2 goes on without the node it could not make, and may call the rest well-formed.
    if (run && error->code == XML_ERR_NO_MEMORY)
        run->outOfMemory = true;
    // A document without a DTD fails validation by libxml2's rules; that is no error here.
    if (!run || run->haveError || error->level < XML_ERR_ERROR || error->code == XML_DTD_NO_DTD)
        return;
    run->haveError = true;
    run->firstError = {describe(*error), error->line, error->int2};
}

// Installed for the whole process: nothing outside a document's own text is ever read, whatever the path or
// scheme, so an external DTD subset or entity can neither copy a local file into a result nor into a message. The
// run that asked (libxml2 asks through a context of its own for an external entity) learns that its DTD is not
// wholly internal.
xmlParserInputPtr refuseExternalEntity(const char* /*url*/, const char* /*publicId*/, xmlParserCtxtPtr /*context*/) {
    if (t_activeRun)
        t_activeRun->externalRefused = true;
    return nullptr;
}

// libxml2 does not count a reference to an external parameter entity that it leaves unread. The XML rules do: an
// entity that such a reference might have declared is then no well-formedness error where it is used, as with an
// unread external subset.
xmlEntity* countingParameterEntity(void* context, const xmlChar* name) {
    xmlEntity* entity = xmlSAX2GetParameterEntity(context, name);
    if (entity && entity->etype == XML_EXTERNAL_PARAMETER_ENTITY)
        static_cast<xmlParserCtxt*>(context)->hasPErefs = 1;
    return entity;
}

// Called at the end of a document type declaration while validating. An external subset is never read, so the
// validation cannot be had: stop here and parse again without it, rather than parse the whole document twice.
void stopAtExternalSubset(void* context, const xmlChar* /*name*/, const xmlChar* externalId, const xmlChar* systemId) {
    if (!externalId && !systemId)
        return;
    if (t_activeRun)
        t_activeRun->externalRefused = true;
    xmlStopParser(static_cast<xmlParserCtxt*>(context));
}

void ignoreGenericError(void* /*context*/, const char* /*format*/, ...) {}

} // namespace

void setUpLibxml2() {
    static std::once_flag once;
    std::call_once(once, [] {
        xmlInitParser();
        xmlSetExternalEntityLoader(&refuseExternalEntity);
        // Failures outside a parse (a node that cannot be made for want of memory) would otherwise be printed on
        // standard error; every caller reports them itself. For this thread and for the threads made from now on.
        xmlSetGenericErrorFunc(nullptr, &ignoreGenericError);
        xmlThrDefSetGenericErrorFunc(nullptr, &ignoreGenericError);
#ifdef LIBXML_CATALOG_ENABLED
        // Catalogs would map identifiers to files on this machine; the loader refuses those anyway.
        xmlCatalogSetDefaults(XML_CATA_ALLOW_NONE);
#endif
    });
}

namespace {

void tally(RootOutline& outline, const xmlNode* child) {
    ++outline.nodes;
    if (child->type == XML_TEXT_NODE) {
        ++outline.textNodes;
        (xmlIsBlankNode(child) ? outline.blankText : outline.text) = true;
    } else if (child->type == XML_CDATA_SECTION_NODE || child->type == XML_ENTITY_REF_NODE) {
        outline.text = true;
    }
}

// Tallied children kept before the ones between the first and the last are freed.
constexpr qsizetype kKeptRootChildren = 256;

// Tallies the root's children that can no longer change: all but the last, the only one libxml2 may still add text
// to. Of those it looks only at the first (is it text?) and the last, so the ones between go, a few at a time.
void settleRoot(RootOutline& outline) {
    xmlNode* root = outline.root;
    for (const xmlNode* child = outline.settled ? outline.settled->next : root->children; child && child != root->last;
         child = child->next) {
        tally(outline, child);
        outline.settled = child;
        ++outline.alive;
    }
    if (outline.alive < kKeptRootChildren)
        return;
    xmlNode* first = root->children;
    for (xmlNode* child = first->next; child != root->last;) {
        xmlNode* next = child->next;
        xmlUnlinkNode(child);
        xmlFreeNode(child);
        child = next;
    }
    outline.settled = first;
    outline.alive = 1;
}

/// Where an outline puts what the parser hands on.
enum class Place {
    Tree, // built as usual: no outline, or outside the root
    Root, // among the root's children
    Away, // below them: left out
};

Place placeOf(ParseRun* run) {
    if (!run || !run->outline || !run->outline->root)
        return Place::Tree;
    const xmlNode* node = run->context->node;
    if (node == run->outline->root) {
        settleRoot(*run->outline);
        return Place::Root;
    }
    return node ? Place::Away : Place::Tree;
}

bool isBlank(const xmlChar* text, int length) {
    return std::all_of(text, text + length, [](xmlChar c) { return IS_BLANK_CH(c); });
}

// Text next to the root's last text node: libxml2 would append it. All that counts of the node is whether it holds
// only white space, so it keeps a piece of the text that shows it.
bool joinRootText(ParseRun& run, const xmlChar* text, int length) {
    xmlNode* last = run.outline->root->last;
    if (!last || last->type != XML_TEXT_NODE || last->name != xmlStringText)
        return false;
    if (xmlIsBlankNode(last) && !isBlank(text, length)) {
        xmlNodeSetContentLen(last, text, length);
        run.context->nodelen = 0;
        run.context->nodemem = 0;
    }
    return true;
}

bool hasXmlId(int attributeCount, const xmlChar** attributes) {
    for (std::size_t i = 0; i < std::size_t(std::max(attributeCount, 0)); ++i)
        if (xmlStrEqual(attributes[5 * i + 1], xmlChars("xml")) && xmlStrEqual(attributes[5 * i], xmlChars("id")))
            return true;
    return false;
}

// A document type makes the tree tell the outline: its validation and entities need the nodes.
void stopAtDocumentType(void* context, const xmlChar* /*name*/, const xmlChar* /*externalId*/,
                        const xmlChar* /*systemId*/) {
    if (ParseRun* run = runOf(context); run && run->outline)
        run->outline->typed = true;
    xmlStopParser(static_cast<xmlParserCtxt*>(context));
}

// XML_PARSE_NOBLANKS spares making a node of every indentation, but it guesses from the children so far and so
// also leaves out spaces between the elements of mixed content whose text comes later. The space it leaves out
// waits here until its element ends, and goes back in when the element turned out to hold text.
// Runs a callback's body; what it throws (no memory for the bookkeeping) stops the parse and waits in the run, to be
// thrown again once libxml2 has returned.
template <typename Body> void guarded(void* userData, Body&& body) {
    try {
        body();
    } catch (...) {
        ParseRun* run = runOf(userData);
        if (!run)
            throw;
        if (!run->failure)
            run->failure = std::current_exception();
        xmlStopParser(run->context);
    }
}

void keepBlankAsideUnguarded(void* userData, const xmlChar* text, int length) {
    ParseRun* run = runOf(userData);
    if (run && run->skipDepth > 0)
        return;
    if (const Place place = placeOf(run); place != Place::Tree) {
        // Pieces of one run come with no child added in between.
        RootOutline& outline = *run->outline;
        const qsizetype children = outline.nodes + (outline.root->last ? 1 : 0);
        if (place == Place::Root && children != outline.blankRunAt) {
            ++outline.blankRuns;
            outline.blankRunAt = children;
        }
        return;
    }
    xmlNode* parent = run ? run->context->node : nullptr;
    if (!parent)
        return; // outside the document's own elements (an entity's text being checked): left out as before
    if (!run->blanks.empty() && run->blanks.back().parent == parent && run->blanks.back().after == parent->last)
        run->blanks.back().length += std::size_t(length); // one run of space, handed over in pieces
    else
        run->blanks.push_back({parent, parent->last, run->blankText.size(), std::size_t(length)});
    run->blankText.append(reinterpret_cast<const char*>(text), std::size_t(length));
}

void keepBlankAside(void* userData, const xmlChar* text, int length) {
    guarded(userData, [&] { keepBlankAsideUnguarded(userData, text, length); });
}

// libxml2 cuts text before a carriage return and may take the blank piece before the cut for indentation: a blank
// run kept aside right before a text node under \a parent is the start of that text. Throws std::bad_alloc.
void joinBlanksToText(ParseRun& run, xmlNode* parent) {
    auto first = run.blanks.end();
    while (first != run.blanks.begin() && std::prev(first)->parent == parent)
        --first;
    bool joined = false;
    for (auto blank = first; blank != run.blanks.end(); ++blank) {
        xmlNode* next = blank->after ? blank->after->next : parent->children;
        if (!next || next->type != XML_TEXT_NODE || next->name != xmlStringText)
            continue;
        const xmlChar* content = next->content ? next->content : xmlChars("");
        std::string text(run.blankText, blank->offset, blank->length);
        text.append(reinterpret_cast<const char*>(content));
        xmlNodeSetContentLen(next, xmlChars(text.c_str()), int(text.size()));
        blank->length = 0; // taken: never put back again
        joined = true;
    }
    // libxml2 appends to the text it made last by lengths it kept, which no longer hold.
    if (joined) {
        run.context->nodelen = 0;
        run.context->nodemem = 0;
    }
}

void restoreBlanks(ParseRun& run, xmlNode* element) {
    try {
        joinBlanksToText(run, element);
    } catch (const std::bad_alloc&) {
        run.outOfMemory = true;
        xmlStopParser(run.context);
        return;
    }
    auto first = run.blanks.end();
    while (first != run.blanks.begin() && std::prev(first)->parent == element)
        --first;
    if (first == run.blanks.end())
        return;
    if (holdsText(element)) {
        for (auto blank = first; blank != run.blanks.end(); ++blank) {
            if (blank->length == 0)
                continue; // joined to the text after it already
            xmlNode* node =
                xmlNewDocTextLen(element->doc, xmlChars(run.blankText.data() + blank->offset), int(blank->length));
            if (!node) {
                run.outOfMemory = true;
                xmlStopParser(run.context);
                break;
            }
            // Linked by hand: the neighbours are never text (libxml2 keeps space next to text, and what it cut from
            // text was joined to it above), so nothing merges.
            node->parent = element;
            node->prev = blank->after;
            node->next = blank->after ? blank->after->next : element->children;
            (node->prev ? node->prev->next : element->children) = node;
            (node->next ? node->next->prev : element->last) = node;
        }
    }
    run.blankText.resize(first->offset);
    run.blanks.erase(first, run.blanks.end());
}

// True for what is neither built nor counted: the content of an element left out, and in an outline what lies below
// the root's children.
bool isSkipping(void* userData) {
    ParseRun* run = runOf(userData);
    return run && (run->skipDepth > 0 || placeOf(run) == Place::Away);
}

// The place of a new top-level element among the root's children. Children are only ever appended while the
// root is open, so counting goes on from the last child counted.
qsizetype countRootChildren(ParseRun& run, const xmlNode* root) {
    for (xmlNode* child = run.counted ? run.counted->next : root->children; child; child = child->next) {
        run.counted = child;
        ++run.topIndex;
    }
    return run.topIndex;
}

// How many children of the top-level element being parsed have a base name. Merge tells a left-out element
// among the nodes it sees by this count, which neither the blank text put back nor the blank text dropped changes.
qsizetype countNamedChildren(ParseRun& run, const xmlNode* top) {
    for (const xmlNode* child = run.namedCounted ? run.namedCounted->next : top->children; child; child = child->next) {
        run.namedCounted = child;
        if (!baseName(child).empty())
            ++run.named;
    }
    return run.named;
}

std::string_view prefixKey(const xmlChar* prefix) {
    return prefix ? std::string_view(reinterpret_cast<const char*>(prefix)) : std::string_view();
}

bool declaresPrefix(int namespaceCount, const xmlChar** namespaces, const xmlChar* prefix) {
    for (std::size_t i = 0; i < std::size_t(std::max(namespaceCount, 0)); ++i)
        if (xmlStrEqual(namespaces[2 * i], prefix))
            return true;
    return false;
}

// The declaration in scope for prefix above the element being started, or null when the lookup is libxml2's.
xmlNs* inScope(const ParseRun& run, const xmlChar* prefix, int namespaceCount, const xmlChar** namespaces) {
    if (xmlStrEqual(prefix, xmlChars("xml")) || declaresPrefix(namespaceCount, namespaces, prefix))
        return nullptr; // libxml2 finds these at once
    const auto found = run.scopes.find(prefixKey(prefix));
    return found != run.scopes.end() && !found->second.empty() ? found->second.back() : nullptr;
}

// libxml2 finds the namespace of every prefixed element and attribute by walking all declarations on the way to
// the root, which grows with the square of their number. Where the declaration in scope comes from the table
// instead, libxml2 gets the name without prefix and the namespace is set afterwards.
xmlNode* buildElement(ParseRun* run, void* userData, const xmlChar* localName, const xmlChar* prefix,
                      const xmlChar* uri, int namespaceCount, const xmlChar** namespaces, int attributeCount,
                      int defaultedCount, const xmlChar** attributes) {
    xmlNode* parent = run ? run->context->node : nullptr;
    if (!run || !run->ownScopes || !parent) {
        xmlSAX2StartElementNs(userData, localName, prefix, uri, namespaceCount, namespaces, attributeCount,
                              defaultedCount, attributes);
        xmlNode* element = run ? run->context->node : nullptr;
        return element != parent ? element : nullptr;
    }
    xmlNs* elementNs = uri ? inScope(*run, prefix, namespaceCount, namespaces) : nullptr;
    std::vector<const xmlChar*>& ownAttributes = run->attributes;
    std::vector<xmlNs*>& attributeNs = run->attributeNs;
    ownAttributes.clear();
    attributeNs.clear();
    const std::size_t count = std::size_t(std::max(attributeCount, 0));
    for (std::size_t i = 0; i < count; ++i) {
        xmlNs* ns = attributes[5 * i + 1] ? inScope(*run, attributes[5 * i + 1], namespaceCount, namespaces) : nullptr;
        if (ns && ownAttributes.empty())
            ownAttributes.assign(attributes, attributes + 5 * count); // five pointers per attribute
        if (ns)
            ownAttributes[5 * i + 1] = nullptr;
        attributeNs.push_back(ns);
    }
    xmlSAX2StartElementNs(userData, localName, elementNs ? nullptr : prefix, elementNs ? nullptr : uri, namespaceCount,
                          namespaces, attributeCount, defaultedCount,
                          ownAttributes.empty() ? attributes : ownAttributes.data());
    xmlNode* element = run->context->node;
    if (element == parent)
        return nullptr;
    if (elementNs)
        element->ns = elementNs;
    if (!ownAttributes.empty()) {
        auto ns = attributeNs.begin();
        for (xmlAttr* attr = element->properties; attr && ns != attributeNs.end(); attr = attr->next, ++ns)
            if (*ns)
                attr->ns = *ns;
    }
    return element;
}

void openScope(ParseRun& run, const xmlNode* element) {
    run.opened.emplace_back(element, run.declared.size());
    for (xmlNs* ns = element->nsDef; ns; ns = ns->next) {
        run.declared.push_back(prefixKey(ns->prefix));
        run.scopes[run.declared.back()].push_back(ns);
    }
}

void closeScope(ParseRun& run, const xmlNode* element) {
    if (run.opened.empty() || run.opened.back().first != element)
        return;
    for (std::size_t i = run.declared.size(); i > run.opened.back().second; --i) {
        const auto found = run.scopes.find(run.declared[i - 1]);
        found->second.pop_back();
        // The key views the prefix of the declaration that made the entry, which goes with a taken element.
        if (found->second.empty())
            run.scopes.erase(found);
    }
    run.declared.resize(run.opened.back().second);
    run.opened.pop_back();
}

void startElementUnguarded(void* userData, const xmlChar* localName, const xmlChar* prefix, const xmlChar* uri,
                           int namespaceCount, const xmlChar** namespaces, int attributeCount, int defaultedCount,
                           const xmlChar** attributes) {
    ParseRun* run = runOf(userData);
    xmlNode* parent = run ? run->context->node : nullptr;
    if (run && run->outline) {
        run->outline->sawXmlId = run->outline->sawXmlId || hasXmlId(attributeCount, attributes);
        if (run->skipDepth > 0) {
            ++run->skipDepth;
            return;
        }
        if (placeOf(run) == Place::Away) {
            run->skipDepth = 1;
            return;
        }
    }
    if (run && run->skippable) {
        if (run->skipDepth > 0) {
            ++run->skipDepth;
            return;
        }
        if (parent && parent == run->top &&
            run->skippable->contains(run->topIndex, reinterpret_cast<const char*>(localName))) {
            run->skipDepth = 1;
            if (run->skippedUnder.empty() || run->skippedUnder.back().first != parent)
                run->skippedUnder.emplace_back(parent, run->topIndex);
            // The local name comes from the document's dictionary, which the document keeps.
            run->leftOut.push_back({run->topIndex, countNamedChildren(*run, parent),
                                    std::string_view(reinterpret_cast<const char*>(localName))});
            return;
        }
    }
    xmlNode* element = buildElement(run, userData, localName, prefix, uri, namespaceCount, namespaces, attributeCount,
                                    defaultedCount, attributes);
    if (!run || !element)
        return;
    if (!parent) {
        // A document type brings validation and IDs that every element takes part in: nothing is left out then,
        // and libxml2 looks namespaces up itself.
        const bool typed = run->context->myDoc && run->context->myDoc->intSubset;
        if (run->outline) {
            run->outline->root = element;
            run->outline->typed = run->outline->typed || typed;
        }
        if (typed) {
            run->skippable = nullptr;
            run->taker = nullptr;
        }
        run->ownScopes = !typed;
        run->takeRootChildren = run->taker && run->taker->takesRootChildren();
        run->rootPreserve = isSpacePreserve(element, false);
    } else if ((run->skippable || run->taker) && !run->takeRootChildren && parent->parent &&
               parent->parent->type == XML_DOCUMENT_NODE) {
        run->top = element;
        run->namedCounted = nullptr;
        run->named = 0;
        run->topPreserve = isSpacePreserve(element, isSpacePreserve(parent, false));
        countRootChildren(*run, parent);
    }
    if (run->ownScopes)
        openScope(*run, element);
}

void startElement(void* userData, const xmlChar* localName, const xmlChar* prefix, const xmlChar* uri,
                  int namespaceCount, const xmlChar** namespaces, int attributeCount, int defaultedCount,
                  const xmlChar** attributes) {
    guarded(userData, [&] {
        startElementUnguarded(userData, localName, prefix, uri, namespaceCount, namespaces, attributeCount,
                              defaultedCount, attributes);
    });
}

// Hands a complete second-level element to the taker; what it takes is listed where it stood, like an element
// left out.
void offerToTaker(ParseRun& run, xmlNode* element) {
    xmlNode* before = element->prev;
    // The element is the top-level element's last child, and has a name.
    const qsizetype namedBefore = countNamedChildren(run, run.top) - 1;
    dropBlankText(element, run.topPreserve);
    const std::string_view name = baseName(element); // in the document's dictionary: outlives the element
    bool taken = false;
    try {
        taken = run.taker->take(run.topIndex, element);
    } catch (...) {
        run.failure = std::current_exception();
        xmlStopParser(run.context);
        return;
    }
    if (!taken)
        return;
    run.namedCounted = before;
    run.named = namedBefore;
    // libxml2 appends the next text to the last child when that is text, trusting lengths it kept for the text it
    // made last; with the element gone the last child may be other text, which it must then join the slow way.
    run.context->nodelen = 0;
    run.context->nodemem = 0;
    if (run.skippedUnder.empty() || run.skippedUnder.back().first != run.top)
        run.skippedUnder.emplace_back(run.top, run.topIndex);
    run.leftOut.push_back({run.topIndex, namedBefore, name, true});
}

// Hands the root's children, up to the element just completed, to the taker in document order.
void offerRootChildren(ParseRun& run, xmlNode* root) {
    bool tookAny = false;
    try {
        // The root's children are taken before the root ends, and its blanks with them.
        joinBlanksToText(run, root);
        dropBlankText(root->last, run.rootPreserve);
        while (xmlNode* child = root->children) {
            if (!run.taker->take(run.rootChildrenTaken, child))
                break;
            ++run.rootChildrenTaken;
            tookAny = true;
        }
    } catch (...) {
        run.failure = std::current_exception();
        xmlStopParser(run.context);
        return;
    }
    if (!tookAny)
        return;
    // The blank runs kept aside under the root may follow nodes that are gone now; the taker wants no blank text
    // there, and a document whose root turns out to hold text is parsed again (see ElementTaker::fits()).
    run.blanks.erase(std::remove_if(run.blanks.begin(), run.blanks.end(),
                                    [root](const PendingBlank& blank) { return blank.parent == root; }),
                     run.blanks.end());
    // As in offerToTaker(): the root's last child, if any, is not the text libxml2 made last.
    run.context->nodelen = 0;
    run.context->nodemem = 0;
}

void endElement(void* userData, const xmlChar* localName, const xmlChar* prefix, const xmlChar* uri) {
    ParseRun* run = runOf(userData);
    if (run && run->skipDepth > 0) {
        --run->skipDepth;
        return;
    }
    xmlNode* element = run ? run->context->node : nullptr;
    if (element) {
        restoreBlanks(*run, element);
        closeScope(*run, element);
    }
    xmlSAX2EndElementNs(userData, localName, prefix, uri);
    if (element && run->takeRootChildren && run->taker && element->parent && element->parent->parent &&
        element->parent->parent->type == XML_DOCUMENT_NODE) {
        offerRootChildren(*run, element->parent);
        return;
    }
    if (element && run->taker && run->top && element->parent == run->top && element->type == XML_ELEMENT_NODE)
        offerToTaker(*run, element);
}

// The content of an element left out is left out too.
void characters(void* userData, const xmlChar* text, int length) {
    if (isSkipping(userData))
        return;
    if (ParseRun* run = runOf(userData); run && run->outline && run->outline->root &&
                                         run->context->node == run->outline->root && joinRootText(*run, text, length))
        return;
    xmlSAX2Characters(userData, text, length);
}

void cdataBlock(void* userData, const xmlChar* text, int length) {
    if (isSkipping(userData))
        return;
    // Among the root's children of an outline a CDATA section only has to be there: libxml2 would append the text
    // of the next one to it.
    if (ParseRun* run = runOf(userData);
        run && run->outline && run->outline->root && run->context->node == run->outline->root) {
        const xmlNode* last = run->outline->root->last;
        if (!last || last->type != XML_CDATA_SECTION_NODE)
            xmlSAX2CDataBlock(userData, text, 0);
        return;
    }
    // libxml2 appends a section to one right before it, as the pieces of one section come; but a blank run kept
    // aside stood between them (see keepBlankAside()), and the sections stay two.
    if (ParseRun* run = runOf(userData);
        run && run->context->node && !run->blanks.empty() && run->blanks.back().parent == run->context->node &&
        run->blanks.back().after == run->context->node->last && run->context->node->last &&
        run->context->node->last->type == XML_CDATA_SECTION_NODE) {
        xmlNode* section = xmlNewCDataBlock(run->context->node->doc, text, length);
        if (!section) {
            run->outOfMemory = true;
            xmlStopParser(run->context);
            return;
        }
        xmlAddChild(run->context->node, section); // only text merges
        return;
    }
    xmlSAX2CDataBlock(userData, text, length);
}

void comment(void* userData, const xmlChar* text) {
    if (!isSkipping(userData))
        xmlSAX2Comment(userData, text);
}

void processingInstruction(void* userData, const xmlChar* target, const xmlChar* data) {
    if (!isSkipping(userData))
        xmlSAX2ProcessingInstruction(userData, target, data);
}

void reference(void* userData, const xmlChar* name) {
    if (!isSkipping(userData))
        xmlSAX2Reference(userData, name);
}

// Blank text is dropped or put back only when the root closes, and that may move the top-level nodes: elements
// were left out under the right nodes only if each still stands where it stood when its children were parsed.
bool skipsStillHold(const xmlNode* root, const std::vector<std::pair<const xmlNode*, qsizetype>>& skippedUnder) {
    auto expected = skippedUnder.begin();
    qsizetype index = 0;
    for (const xmlNode* child = root->children; child && expected != skippedUnder.end(); child = child->next, ++index)
        if (child == expected->first) {
            if (index != expected->second)
                return false;
            ++expected;
        }
    return expected == skippedUnder.end();
}

/// Hands the text to libxml2 piece by piece, as a file would be read, so that it never holds a copy of it all.
struct TextSource {
    QByteArrayView rest;
    const TextPieces* more = nullptr; // what comes after rest, when the text is not all in memory
    std::stop_token stop;
    std::exception_ptr failure; // what more threw: it cannot pass through libxml2
    AttributeLimit attributes;
    bool tooManyAttributes = false;

    // Fills the buffer whole but at the text's end: libxml2 takes a short read for the end of what it needs.
    static int read(void* context, char* buffer, int length) {
        auto* source = static_cast<TextSource*>(context);
        if (source->stop.stop_requested())
            return -1;
        int count = 0;
        try {
            while (count < length) {
                while (source->rest.isEmpty() && source->more) {
                    source->rest = (*source->more)();
                    if (source->rest.isEmpty())
                        source->more = nullptr;
                }
                if (source->rest.isEmpty())
                    break;
                const qsizetype some = std::min<qsizetype>(length - count, source->rest.size());
                std::memcpy(buffer + count, source->rest.data(), size_t(some));
                source->rest = source->rest.sliced(some);
                count += int(some);
            }
        } catch (...) {
            source->failure = std::current_exception();
            return -1;
        }
        if (!source->attributes.scan(QByteArrayView(buffer, count))) {
            source->tooManyAttributes = true;
            return -1;
        }
        return count;
    }
};

// Like xmlCtxtReadMemory, but the text is streamed and declared UTF-8 up front: forcing the encoding there would
// run a UTF-8 to UTF-8 conversion, and leaving it open would let libxml2 guess another encoding from the first
// bytes.
XmlDocument readUtf8(xmlParserCtxt* context, TextSource& source, const QByteArray& url, int options) {
    xmlParserInputBuffer* buffer =
        xmlParserInputBufferCreateIO(&TextSource::read, nullptr, &source, XML_CHAR_ENCODING_NONE);
    if (!buffer)
        throw std::bad_alloc();
    xmlParserInput* input = xmlNewIOInputStream(context, buffer, XML_CHAR_ENCODING_NONE);
    if (!input) {
        xmlFreeParserInputBuffer(buffer);
        throw std::bad_alloc();
    }
    input->filename = reinterpret_cast<const char*>(xmlStrdup(xmlChars(url.constData())));
    if (inputPush(context, input) < 0) // frees the input when it fails
        throw std::bad_alloc();
    xmlCtxtUseOptions(context, options);
    context->sax->ignorableWhitespace = &keepBlankAside;
    context->sax->startElementNs = &startElement;
    context->sax->endElementNs = &endElement;
    context->sax->characters = &characters;
    context->sax->cdataBlock = &cdataBlock;
    context->sax->comment = &comment;
    context->sax->processingInstruction = &processingInstruction;
    context->sax->reference = &reference;
    context->encoding = xmlStrdup(xmlChars("UTF-8"));
    xmlParseDocument(context);
    XmlDocument doc(context->myDoc);
    context->myDoc = nullptr;
    if (!context->wellFormed)
        doc.reset();
    return doc;
}

XmlDocument parseOnce(TextSource& source, const QByteArray& url, bool validate, ParseRun& run) {
    // libxml2 tells of memory it could not get on standard error too, where no context takes the message.
    const QuietLibxml2 quiet;
    const XmlParserContext context(xmlNewParserCtxt());
    if (!context)
        throw std::bad_alloc();
    context->sax->serror = &captureError;
    context->sax->getParameterEntity = &countingParameterEntity;
    if (validate)
        context->sax->externalSubset = &stopAtExternalSubset;
    if (run.outline)
        context->sax->internalSubset = &stopAtDocumentType;
    run.context = context.get();
    const ActiveRun active(run);
    // Never XML_PARSE_NOENT (entities stay references) nor XML_PARSE_HUGE (keeps the depth and expansion
    // limits), never XML_PARSE_XINCLUDE. With NOBLANKS, keepBlankAside() puts back the space of mixed content;
    // dropBlankText() decides about the rest.
    const int options = XML_PARSE_NONET | XML_PARSE_IGNORE_ENC | XML_PARSE_NOBLANKS | XML_PARSE_COMPACT |
                        (validate ? XML_PARSE_DTDVALID : 0);
    XmlDocument doc = readUtf8(context.get(), source, url, options);
    if (source.failure)
        std::rethrow_exception(source.failure);
    if (source.tooManyAttributes) {
        run.tooManyAttributesAt = source.attributes.tagOffset();
        return {};
    }
    if (run.outOfMemory || context->errNo == XML_ERR_NO_MEMORY)
        throw std::bad_alloc();
    if (run.failure)
        std::rethrow_exception(run.failure);
    if (!doc)
        return doc;
    const bool conforms = !validate || !doc->intSubset || context->valid;
    if (!context->nsWellFormed || !conforms)
        doc.reset();
    return doc;
}

XmlDocument parseOnce(const TextOpener& open, const QByteArray& url, bool validate, ParseRun& run,
                      const std::stop_token& stop, bool* hasDeclaration = nullptr) {
    UnmarkedText text(open());
    if (hasDeclaration)
        *hasDeclaration = text.hasDeclaration();
    const TextPieces pieces = std::ref(text);
    TextSource source;
    source.more = &pieces;
    source.stop = stop;
    return parseOnce(source, url, validate, run);
}

// The 1-based line and column, in characters as libxml2 counts them, of the byte at \a offset of the text, read
// again from its start: only a text refused for its attributes needs it.
std::pair<int, int> positionIn(const TextOpener& open, qsizetype offset) {
    UnmarkedText text(open());
    int line = 1;
    int column = 1;
    for (QByteArrayView piece; offset > 0 && !(piece = text()).isEmpty();) {
        const QByteArrayView before = piece.first(std::min(offset, piece.size()));
        offset -= before.size();
        for (const char c : before) {
            if (c == '\n') {
                ++line;
                column = 1;
            } else if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {
                ++column;
            }
        }
    }
    return {line, column};
}

// Parses as parseXml() says, validating where the document type allows it, and drops blank text.
XmlDocument parseTree(const TextOpener& open, const QByteArray& url, ParseRun& run, const std::stop_token& stop,
                      bool* hasDeclaration = nullptr) {
    XmlDocument doc = parseOnce(open, url, true, run, stop, hasDeclaration);
    if (run.externalRefused) {
        // Only a document type brings an external subset or entity, and with one nothing is left out or taken.
        const SkippableNames* skippable = run.skippable;
        run = ParseRun();
        run.skippable = skippable;
        doc = parseOnce(open, url, false, run, stop);
    }
    if (doc)
        dropBlankText(rootElement(doc.get()));
    return doc;
}

} // namespace

// The text is taken, not borrowed: a caller that moves it in has its copy freed as soon as the parse ends.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
ParsedXml parseXml(QByteArray text, const QString& path, const std::stop_token& stop, const SkippableNames* skippable,
                   ElementTaker* taker) {
    const TextOpener whole = [&text]() -> TextPieces {
        return [rest = QByteArrayView(text)]() mutable { return std::exchange(rest, {}); };
    };
    return parseXml(whole, path, stop, skippable, taker);
}

ParsedXml parseXml(const TextOpener& open, const QString& path, const std::stop_token& stop,
                   const SkippableNames* skippable, ElementTaker* taker) {
    if (RootChildrenSink* sink = taker && !skippable ? taker->textSink() : nullptr) {
        if (std::optional<ParsedXml> read = readRootChildren(open, path, stop, *sink))
            return std::move(*read);
        taker->forget();
    } else if (TopChildrenSink* topSink = taker ? taker->topSink() : nullptr) {
        if (std::optional<ParsedXml> read = readTopChildren(open, path, stop, skippable, *topSink))
            return std::move(*read);
        taker->forget();
    }
    setUpLibxml2();
    ParsedXml parsed;
    const QByteArray url = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toEncoded();
    ParseRun run;
    run.skippable = skippable;
    run.taker = taker;
    parsed.doc = parseTree(open, url, run, stop, &parsed.hasDeclaration);
    if (run.rootChildrenTaken > 0 && (!parsed.doc || !taker->fits(rootElement(parsed.doc.get())))) {
        // A failed document gives the same first error again: nothing was left unbuilt.
        taker->forget();
        if (parsed.doc) {
            parsed.doc.reset();
            run = ParseRun();
            parsed.doc = parseTree(open, url, run, stop);
        }
    }
    // Rare: a document that failed (its first error may lie in what was left out), whose top-level nodes moved, or
    // that turned out to need what the taker took.
    if (!run.skippedUnder.empty() && (!parsed.doc || !skipsStillHold(rootElement(parsed.doc.get()), run.skippedUnder) ||
                                      (taker && !taker->fits(rootElement(parsed.doc.get()))))) {
        parsed.doc.reset();
        if (taker)
            taker->forget();
        run = ParseRun();
        parsed.doc = parseTree(open, url, run, stop);
    }
    if (run.tooManyAttributesAt >= 0) {
        const auto [line, column] = positionIn(open, run.tooManyAttributesAt);
        parsed.error = {QStringLiteral("An element has more than %1 attributes (namespace declarations included): "
                                       "too many to check")
                            .arg(AttributeLimit::kMaxAttributes),
                        line, column};
        return parsed;
    }
    if (!parsed.doc) {
        parsed.error = run.firstError;
        if (!run.haveError)
            parsed.error.reason = QStringLiteral("The document could not be parsed.");
        return parsed;
    }
    parsed.leftOut = std::move(run.leftOut);
    return parsed;
}

XmlOutline outlineXml(const TextPieces& pieces, const QString& path, const std::stop_token& stop) {
    setUpLibxml2();
    const QByteArray url = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toEncoded();
    RootOutline shape;
    ParseRun run;
    run.outline = &shape;
    const XmlDocument doc = parseOnce([&] { return pieces; }, url, true, run, stop);

    XmlOutline outline;
    // A text refused for its attributes is read again by parseXml(), which tells where.
    if (shape.typed || run.externalRefused || (!doc && shape.sawXmlId) || run.tooManyAttributesAt >= 0)
        return outline;
    if (!doc) {
        outline.result = XmlOutline::Result::NotWellFormed;
        outline.error = run.firstError;
        if (!run.haveError)
            outline.error.reason = QStringLiteral("The document could not be parsed.");
        return outline;
    }
    const xmlNode* root = rootElement(doc.get());
    for (const xmlNode* child = shape.settled ? shape.settled->next : root->children; child; child = child->next)
        tally(shape, child);
    // As parseTree() leaves the root: white space kept aside goes back into text, and blank text goes where the
    // root holds no text of its own.
    qsizetype count = shape.nodes;
    if (shape.text)
        count += shape.blankRuns;
    else if (shape.blankText && !isSpacePreserve(root, false))
        count -= shape.textNodes;
    outline.result = XmlOutline::Result::Read;
    outline.root = QString::fromUtf8(baseName(root));
    if (root->ns && root->ns->href)
        outline.rootNamespace = QString::fromUtf8(reinterpret_cast<const char*>(root->ns->href));
    outline.topLevelNodes = count;
    return outline;
}

} // namespace corvanta
