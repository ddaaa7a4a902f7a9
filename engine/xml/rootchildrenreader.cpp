#include "engine/xml/rootchildrenreader.h"

#include "engine/xml/attributelimit.h"
#include "engine/xml/recordednode.h"
#include "engine/xml/unmarkedtext.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <expat.h>
#include <libxml/uri.h>
#include <memory>
#include <new>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

namespace corvanta {

namespace {

struct ExpatDeleter {
    void operator()(XML_Parser parser) const { XML_ParserFree(parser); }
};
using ExpatParser = std::unique_ptr<std::remove_pointer_t<XML_Parser>, ExpatDeleter>;

// Well inside libxml2's own limits without XML_PARSE_HUGE (a depth of 256, names of 50,000 bytes, texts and values of
// 10,000,000 bytes): nearer to them, libxml2 decides.
constexpr int kDeepest = 200;
constexpr std::size_t kLongestName = 40'000;
constexpr std::size_t kLongestText = 9'000'000;

constexpr std::string_view kXmlNamespace = "http://www.w3.org/XML/1998/namespace";
constexpr std::string_view kXmlnsNamespace = "http://www.w3.org/2000/xmlns/";

// Whether \a name, a name to Expat, starts with a character that may start a name: after a colon, one that may
// only follow the start (a digit, '-', '.', U+00B7, U+0300 to U+036F, U+203F or U+2040) does not.
bool startsName(std::string_view name) {
    const auto byte = [&](std::size_t i) { return i < name.size() ? static_cast<unsigned char>(name[i]) : 0u; };
    const unsigned first = byte(0);
    if (first == '-' || first == '.' || (first >= '0' && first <= '9'))
        return false;
    if (first == 0xC2 && byte(1) == 0xB7)
        return false;
    if ((first == 0xCC && byte(1) >= 0x80) || (first == 0xCD && byte(1) <= 0xAF))
        return false;
    return !(first == 0xE2 && ((byte(1) == 0x80 && byte(2) == 0xBF) || (byte(1) == 0x81 && byte(2) == 0x80)));
}

// A name libxml2 reads as a qualified name: at most one colon, with a name on either side.
bool isQualifiedName(std::string_view name) {
    const std::size_t colon = name.find(':');
    return colon == std::string_view::npos ||
           (colon > 0 && colon + 1 < name.size() && name.find(':', colon + 1) == std::string_view::npos &&
            startsName(name.substr(colon + 1)));
}

std::string_view prefixOf(std::string_view name) {
    const std::size_t colon = name.find(':');
    return colon == std::string_view::npos ? std::string_view() : name.substr(0, colon);
}

std::string_view localPart(std::string_view name) {
    const std::size_t colon = name.find(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

// libxml2 refuses a namespace name that its URI parser does not read, and writes some characters of those it takes
// as references: only a name of plain characters is written as it stands.
bool isPlainUri(const XML_Char* text) {
    for (const XML_Char* c = text; *c; ++c)
        if (*c <= ' ' || *c >= 0x7F || *c == '&' || *c == '<' || *c == '>' || *c == '"' || *c == '\'')
            return false;
    const std::unique_ptr<xmlURI, decltype(&xmlFreeURI)> uri(xmlParseURI(text), &xmlFreeURI);
    return uri != nullptr;
}

bool isEncodingName(std::string_view name) {
    const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    return !name.empty() && letter(name.front()) && std::all_of(name.begin(), name.end(), [&](char c) {
        return letter(c) || (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
    });
}

class Reader {
public:
    /// Hands the root's children to \a rootSink, or the children of the top-level elements to \a topSink, leaving
    /// out those \a skippable names.
    Reader(XML_Parser parser, RootChildrenSink* rootSink, TopChildrenSink* topSink, const SkippableNames* skippable)
        : m_parser(parser)
        , m_rootSink(rootSink)
        , m_topSink(topSink)
        , m_skippable(skippable)
        , m_unitParent(topSink ? 2 : 1)
        , m_leadingOnly(topSink && topSink->leadingOnly())
        , m_kindsOnly(rootSink && !rootSink->wantsWholeNodes()) {
        XML_SetUserData(parser, this);
        XML_SetXmlDeclHandler(parser, &Reader::declaration);
        XML_SetStartDoctypeDeclHandler(parser, &Reader::documentType);
        XML_SetElementHandler(parser, &Reader::startElement, &Reader::endElement);
        XML_SetCharacterDataHandler(parser, &Reader::text);
        XML_SetCdataSectionHandler(parser, &Reader::startCdata, &Reader::endCdata);
        XML_SetCommentHandler(parser, &Reader::comment);
        XML_SetProcessingInstructionHandler(parser, &Reader::instruction);
    }

    /// Whether libxml2 must read the text.
    bool leftToLibxml2() const { return m_leftToLibxml2; }
    const std::exception_ptr& failure() const { return m_failure; }
    /// The document without what was handed on, as a text: declaration, root element, the nodes around it and,
    /// when the top-level elements' children are handed on, those elements and the processing instructions below
    /// them, which stay nodes.
    const std::string& skeleton() const { return m_skeleton; }
    /// The elements under the top-level elements, each handed on or left out, and the names they view.
    std::vector<LeftOutElement>& leftOut() { return m_leftOut; }
    KeptNames& names() { return m_names; }

private:
    static Reader& of(void* self) { return *static_cast<Reader*>(self); }

    // Each callback runs its body unless the read is over; what the body throws ends it.
    template <typename Body> void guarded(Body&& body) {
        if (m_leftToLibxml2 || m_failure)
            return;
        try {
            body();
        } catch (...) {
            m_failure = std::current_exception();
            XML_StopParser(m_parser, XML_FALSE);
        }
    }

    void leaveToLibxml2() {
        m_leftToLibxml2 = true;
        XML_StopParser(m_parser, XML_FALSE);
    }

    static void XMLCALL declaration(void* self, const XML_Char* version, const XML_Char* encoding, int standalone) {
        Reader& reader = of(self);
        reader.guarded([&] {
            if (!version || std::strcmp(version, "1.0") != 0 || (encoding && !isEncodingName(encoding)))
                return reader.leaveToLibxml2();
            std::string& skeleton = reader.m_skeleton;
            skeleton.append("<?xml version=\"1.0\"");
            if (encoding)
                skeleton.append(" encoding=\"").append(encoding).append(1, '"');
            if (standalone >= 0)
                skeleton.append(standalone ? " standalone=\"yes\"" : " standalone=\"no\"");
            skeleton.append("?>");
        });
    }

    static void XMLCALL documentType(void* self, const XML_Char*, const XML_Char*, const XML_Char*, int) {
        of(self).leaveToLibxml2(); // validation and entities need the tree
    }

    const std::string* lookUp(std::string_view prefix) const {
        for (auto binding = m_bindings.rbegin(); binding != m_bindings.rend(); ++binding)
            if (binding->prefix == prefix)
                return &binding->uri;
        return nullptr;
    }

    // Checks the names and namespace declarations of a start tag as libxml2 does, and takes its declarations into
    // scope. False when libxml2 would refuse it or read it otherwise.
    bool takeIntoScope(std::string_view name, const XML_Char** attributes) {
        if (!isQualifiedName(name) || name.size() > kLongestName || m_depth >= kDeepest)
            return false;
        std::size_t count = 0;
        for (const XML_Char** attribute = attributes; *attribute; attribute += 2, ++count) {
            const std::string_view attributeName = attribute[0];
            const std::string_view value = attribute[1];
            if (!isQualifiedName(attributeName) || attributeName.size() > kLongestName || value.size() > kLongestText ||
                attributeName == "xml:space")
                return false;
            if (attributeName == "xmlns" || prefixOf(attributeName) == "xmlns") {
                const std::string_view prefix =
                    attributeName == "xmlns" ? std::string_view() : localPart(attributeName);
                if (prefix == "xml" || prefix == "xmlns" || value == kXmlNamespace || value == kXmlnsNamespace ||
                    (!prefix.empty() && value.empty()) || (!value.empty() && !isPlainUri(attribute[1])))
                    return false;
                m_bindings.push_back({std::string(prefix), std::string(value), m_depth + 1});
            }
        }
        if (count > std::size_t(AttributeLimit::kMaxAttributes))
            return false;
        // Prefixes resolve, and no two attributes share a namespace and local name.
        m_qualified.clear();
        for (const XML_Char** attribute = attributes; *attribute; attribute += 2) {
            const std::string_view attributeName = attribute[0];
            const std::string_view prefix = prefixOf(attributeName);
            if (prefix.empty() || prefix == "xmlns" || attributeName == "xmlns")
                continue;
            const std::string* uri = prefix == "xml" ? nullptr : lookUp(prefix);
            if (prefix != "xml" && (!uri || uri->empty()))
                return false;
            m_qualified.emplace_back(uri ? std::string_view(*uri) : kXmlNamespace, localPart(attributeName));
        }
        if (m_qualified.size() > 1) {
            std::sort(m_qualified.begin(), m_qualified.end());
            if (std::adjacent_find(m_qualified.begin(), m_qualified.end()) != m_qualified.end())
                return false;
        }
        const std::string_view prefix = prefixOf(name);
        if (prefix == "xml" || prefix == "xmlns")
            return false;
        const std::string* uri = lookUp(prefix);
        return prefix.empty() || (uri && !uri->empty());
    }

    void dropBindingsAbove(int depth) {
        while (!m_bindings.empty() && m_bindings.back().depth > depth)
            m_bindings.pop_back();
    }

    // A child of the root is about to start: the text or CDATA before it, if any, was one. A CDATA section right
    // after another goes on in it, as libxml2 joins them.
    void beginChild(bool cdata = false) {
        if (!m_begun) {
            m_begun = true;
            if (!m_rootSink->begin(m_rootName, asDeclarations(m_rootDeclarations))) {
                leaveToLibxml2();
                return;
            }
        }
        if (!m_node.isEmpty() && !(cdata && m_node.endsWithCdata()))
            finishChild();
    }

    void finishChild() {
        m_node.endText();
        if (!m_rootSink->add(m_node))
            leaveToLibxml2();
        m_node.clear();
    }

    static void XMLCALL startElement(void* self, const XML_Char* name, const XML_Char** attributes) {
        Reader& reader = of(self);
        reader.guarded([&] { reader.start(name, attributes); });
    }

    // A start tag as written, with its attributes and declarations in their order: for the skeleton.
    void appendStartTag(std::string_view name, const XML_Char** attributes) {
        m_skeleton.append(1, '<').append(name);
        for (const XML_Char** attribute = attributes; *attribute; attribute += 2) {
            m_skeleton.append(1, ' ').append(attribute[0]).append("=\"");
            appendEscaped(m_skeleton, attribute[1], Escaping::Attribute);
            m_skeleton.append(1, '"');
        }
    }

    void start(std::string_view name, const XML_Char** attributes) {
        m_textLength = 0;
        keepText();
        const std::size_t before = m_bindings.size();
        if (!takeIntoScope(name, attributes))
            return leaveToLibxml2();
        ++m_depth;
        if (m_skipFrom > 0)
            return; // inside an element left out
        if (m_depth == 1) {
            for (std::size_t i = before; i < m_bindings.size(); ++i)
                m_rootDeclarations.emplace_back(m_bindings[i].prefix, m_bindings[i].uri);
            m_rootName = name;
            appendStartTag(name, attributes);
            m_skeleton.append(1, '>');
            return;
        }
        if (m_topSink && m_depth == 2) {
            m_topIndex = m_topCount++;
            m_topBegun = false;
            m_topDeclarations.clear();
            for (std::size_t i = before; i < m_bindings.size(); ++i)
                m_topDeclarations.emplace_back(m_bindings[i].prefix, m_bindings[i].uri);
            m_topName = name;
            m_namedInTop = 0;
            m_leading = true;
            m_handedInTop = false;
            appendStartTag(name, attributes);
            m_skeleton.append(1, '>');
            return;
        }
        if (m_depth == m_unitParent + 1 && !beginUnit(name))
            return;
        m_node.startElement(name);
        if (m_kindsOnly) {
            m_skipFrom = m_depth; // what it holds is checked, not kept
            return;
        }
        for (std::size_t i = before; i < m_bindings.size(); ++i)
            m_node.declareNamespace(m_bindings[i].prefix, m_bindings[i].uri);
        for (const XML_Char** attribute = attributes; *attribute; attribute += 2) {
            const std::string_view attributeName = attribute[0];
            if (attributeName != "xmlns" && prefixOf(attributeName) != "xmlns")
                m_node.addAttribute(attributeName, attribute[1]);
        }
    }

    // An element that is to be handed on starts: false when it is not recorded.
    bool beginUnit(std::string_view name) {
        if (!m_topSink) {
            beginChild();
            return !m_leftToLibxml2;
        }
        if (m_leadingOnly && !m_leading) {
            m_toSkeleton = true; // it follows what stays a node: it stays one too
            return true;
        }
        const std::string_view local = localPart(name);
        const std::string_view kept = m_names.keep(local);
        if (m_skippable && m_skippable->contains(m_topIndex, local)) {
            m_leftOut.push_back({m_topIndex, m_namedInTop, kept, false});
            m_skipFrom = m_depth;
            return false;
        }
        if (!m_topBegun) {
            m_topBegun = true;
            if (!m_topSink->beginTop(m_topIndex, asDeclarations(m_rootDeclarations),
                                     asDeclarations(m_topDeclarations))) {
                leaveToLibxml2();
                return false;
            }
        }
        m_leftOut.push_back({m_topIndex, m_namedInTop, kept, true});
        m_handedInTop = true;
        return true;
    }

    // Text under a top-level element of a document whose leading elements alone are handed on: it stays a node,
    // in the skeleton. Blank text goes again when the skeleton is parsed, unless text beside it turns out to need
    // it; beside elements handed on, such text would turn their indentation off: libxml2 then builds the document.
    void keepText() {
        if (m_keptText.empty())
            return;
        const bool blank = isWhiteSpace(m_keptText);
        if (!blank && m_handedInTop)
            leaveToLibxml2();
        appendEscaped(m_skeleton, m_keptText, Escaping::Text);
        m_leading = m_leading && blank;
        m_keptText.clear();
    }

    static std::vector<NamespaceDeclaration>
    asDeclarations(const std::vector<std::pair<std::string, std::string>>& bindings) {
        std::vector<NamespaceDeclaration> list;
        list.reserve(bindings.size());
        for (const auto& [prefix, uri] : bindings)
            list.push_back({prefix, uri});
        return list;
    }

    static void XMLCALL endElement(void* self, const XML_Char* /*name*/) {
        Reader& reader = of(self);
        reader.guarded([&] { reader.end(); });
    }

    void end() {
        m_textLength = 0;
        keepText();
        --m_depth;
        dropBindingsAbove(m_depth);
        if (m_skipFrom > 0) {
            if (m_depth >= m_skipFrom)
                return;
            m_skipFrom = 0;
            if (!m_kindsOnly)
                return;
        }
        if (m_depth == 0) {
            if (!m_node.isEmpty())
                beginChild(); // the text at the root's end
            m_skeleton.append("</").append(m_rootName).append(1, '>');
            return;
        }
        if (m_depth < m_unitParent) {
            m_skeleton.append("</").append(m_topName).append(1, '>');
            return;
        }
        m_node.endElement();
        if (m_depth > m_unitParent)
            return;
        if (!m_topSink)
            return finishChild();
        if (std::exchange(m_toSkeleton, false)) {
            const QByteArrayView written = m_node.written(false, 2);
            m_skeleton.append(written.data(), std::size_t(written.size()));
        } else if (!m_topSink->add(m_topIndex, m_node, m_leftOut.back().name)) {
            leaveToLibxml2();
        }
        m_node.clear();
    }

    // Where content at the current depth goes.
    enum class Place {
        Outside,  // around the root
        Top,      // among the root's children, where only top-level elements are handed on
        Stays,    // among a top-level element's children, where only elements are handed on
        Unit,     // among the root's children, each handed on
        Recorded, // inside an element handed on
        Skipped,  // inside an element left out
    };
    Place place() const {
        if (m_skipFrom > 0)
            return Place::Skipped;
        if (m_depth == 0)
            return Place::Outside;
        if (m_depth > m_unitParent)
            return Place::Recorded;
        if (m_depth == m_unitParent)
            return m_topSink ? Place::Stays : Place::Unit;
        return Place::Top;
    }

    static void XMLCALL text(void* self, const XML_Char* text, int length) {
        Reader& reader = of(self);
        reader.guarded([&] { reader.addText(std::string_view(text, std::size_t(length))); });
    }

    void addText(std::string_view text) {
        m_textLength += text.size();
        if (m_textLength > kLongestText)
            return leaveToLibxml2();
        switch (place()) {
        case Place::Stays:
            if (m_leadingOnly)
                m_keptText.append(text);
            return;
        case Place::Outside:
        case Place::Skipped:
            return;
        case Place::Top:
            // Text beside the top-level elements would change their places once the root closes.
            if (!isWhiteSpace(text))
                leaveToLibxml2();
            return;
        case Place::Unit:
            if (!m_node.inText())
                beginChild();
            if (m_leftToLibxml2)
                return;
            [[fallthrough]];
        case Place::Recorded:
            m_node.addText(text);
            return;
        }
    }

    static void XMLCALL startCdata(void* self) {
        Reader& reader = of(self);
        reader.guarded([&] {
            reader.m_textLength = 0;
            reader.keepText();
            switch (reader.place()) {
            case Place::Stays:
                if (reader.m_leadingOnly)
                    reader.leaveToLibxml2(); // rare: libxml2 builds it
                return;
            case Place::Outside:
            case Place::Skipped:
                return;
            case Place::Top:
                return reader.leaveToLibxml2();
            case Place::Unit:
                reader.beginChild(true);
                if (reader.m_leftToLibxml2)
                    return;
                [[fallthrough]];
            case Place::Recorded:
                reader.m_node.startCdata();
                return;
            }
        });
    }

    static void XMLCALL endCdata(void* self) {
        Reader& reader = of(self);
        reader.guarded([&] {
            reader.m_textLength = 0;
            if (reader.place() == Place::Unit || reader.place() == Place::Recorded)
                reader.m_node.endCdata();
        });
    }

    static void XMLCALL comment(void* self, const XML_Char* text) {
        Reader& reader = of(self);
        reader.guarded([&] {
            if (std::strlen(text) > kLongestText)
                return reader.leaveToLibxml2();
            if (reader.place() == Place::Stays && !reader.m_leadingOnly)
                return; // nameless: it stays behind
            reader.addNode([&](RecordedNode& node) { node.addComment(text); },
                           [&](std::string& skeleton) { skeleton.append("<!--").append(text).append("-->"); }, false);
        });
    }

    // A comment or processing instruction: written to the skeleton around the root, among the top-level nodes and
    // among their children (where a processing instruction is merged by its target, as a node), handed on or
    // recorded below.
    template <typename Record, typename Write> void addNode(Record&& record, Write&& write, bool named) {
        m_textLength = 0;
        keepText();
        switch (place()) {
        case Place::Skipped:
            return;
        case Place::Stays:
            m_namedInTop += named ? 1 : 0;
            m_leading = false;
            write(m_skeleton);
            return;
        case Place::Top:
            ++m_topCount;
            [[fallthrough]];
        case Place::Outside:
            write(m_skeleton);
            return;
        case Place::Unit:
            beginChild();
            if (m_leftToLibxml2)
                return;
            record(m_node);
            finishChild();
            return;
        case Place::Recorded:
            record(m_node);
            return;
        }
    }

    static void XMLCALL instruction(void* self, const XML_Char* target, const XML_Char* data) {
        Reader& reader = of(self);
        reader.guarded([&] { reader.addInstruction(target, data); });
    }

    void addInstruction(std::string_view target, std::string_view data) {
        // libxml2 refuses a colon in a target, and only warns of one starting with "xml" in any case.
        const bool xmlLike =
            target.size() >= 3 && (target[0] | 0x20) == 'x' && (target[1] | 0x20) == 'm' && (target[2] | 0x20) == 'l';
        if (target.find(':') != std::string_view::npos || xmlLike || target.size() > kLongestName ||
            data.size() > kLongestText)
            return leaveToLibxml2();
        // "<?target?>" has no data for libxml2, "<?target ?>" has empty data; Expat tells neither apart.
        const bool hasData = !data.empty() || std::size_t(XML_GetCurrentByteCount(m_parser)) > target.size() + 4;
        addNode([&](RecordedNode& node) { node.addProcessingInstruction(target, data, hasData); },
                [&](std::string& skeleton) {
                    skeleton.append("<?").append(target);
                    if (hasData)
                        skeleton.append(1, ' ').append(data);
                    skeleton.append("?>");
                },
                true);
    }

    struct Binding {
        std::string prefix;
        std::string uri;
        int depth;
    };

    XML_Parser m_parser;
    RootChildrenSink* m_rootSink;
    TopChildrenSink* m_topSink;
    const SkippableNames* m_skippable;
    const int m_unitParent;   // the depth of the elements whose children are handed on
    const bool m_leadingOnly; // only the leading elements under a top-level element are handed on: the rest is kept
    const bool m_kindsOnly;   // the root's children are handed on without their content
    bool m_leftToLibxml2 = false;
    std::exception_ptr m_failure;
    int m_depth = 0;
    int m_skipFrom = 0;   // the depth of the element left out that the reader is in; 0 when none
    bool m_begun = false; // the root sink has been told of the root
    std::vector<Binding> m_bindings;
    std::vector<std::pair<std::string_view, std::string_view>> m_qualified; // a start tag's attributes, resolved
    std::string m_skeleton;
    std::string m_rootName;
    std::vector<std::pair<std::string, std::string>> m_rootDeclarations;
    RecordedNode m_node;
    std::size_t m_textLength = 0; // of the character data since the last markup
    // Handing on the top-level elements' children.
    qsizetype m_topCount = 0;
    qsizetype m_topIndex = 0;
    bool m_topBegun = false; // the sink has been told of the top-level element m_topIndex
    std::string m_topName;
    qsizetype m_namedInTop = 0; // the processing instructions under it so far, which stay nodes
    bool m_leading = true;      // nothing but elements handed on, and blank text, came under it so far
    bool m_handedInTop = false; // an element under it was handed on
    bool m_toSkeleton = false;  // the element being recorded goes to the skeleton, not to the sink
    std::string m_keptText;     // text under it, kept until the next markup tells where it goes
    std::vector<std::pair<std::string, std::string>> m_topDeclarations;
    std::vector<LeftOutElement> m_leftOut;
    KeptNames m_names; // what m_leftOut's names view
};

} // namespace

namespace {

std::optional<ParsedXml> readChildren(const TextOpener& open, const QString& path, const std::stop_token& stop,
                                      RootChildrenSink* rootSink, TopChildrenSink* topSink,
                                      const SkippableNames* skippable) {
    UnmarkedText text(open());
    const bool hasDeclaration = text.hasDeclaration(); // while the first piece is at hand
    // Expat would read such a text as UTF-16 whatever it is told; libxml2 reads it as the UTF-8 it is said to be.
    if (text.startsLikeUtf16())
        return std::nullopt;
    // Declared UTF-8 up front, as libxml2 reads it: the declaration's encoding changes nothing.
    const ExpatParser parser(XML_ParserCreate("UTF-8"));
    if (!parser)
        throw std::bad_alloc();
    Reader reader(parser.get(), rootSink, topSink, skippable);
    const auto parse = [&](QByteArrayView bytes, bool last) {
        // Expat takes an int's worth at a time.
        constexpr qsizetype kLargest = qsizetype(1) << 30;
        do {
            const QByteArrayView part = bytes.first(std::min(bytes.size(), kLargest));
            bytes = bytes.sliced(part.size());
            const bool final = last && bytes.isEmpty();
            if (XML_Parse(parser.get(), part.data(), int(part.size()), final ? XML_TRUE : XML_FALSE) != XML_STATUS_OK)
                return false;
        } while (!bytes.isEmpty());
        return true;
    };
    bool read = true;
    for (QByteArrayView piece; read && !(piece = text()).isEmpty();) {
        if (stop.stop_requested())
            return ParsedXml();
        read = parse(piece, false);
    }
    read = read && parse({}, true);
    if (reader.failure())
        std::rethrow_exception(reader.failure());
    if (XML_GetErrorCode(parser.get()) == XML_ERROR_NO_MEMORY)
        throw std::bad_alloc();
    if (!read || reader.leftToLibxml2())
        return std::nullopt;
    // The nodes outside what was handed on are few: libxml2 builds them, from a text that holds only them.
    ParsedXml skeleton = parseXml(QByteArray::fromStdString(reader.skeleton()), path, stop);
    if (!skeleton.doc || skeleton.hasDeclaration != hasDeclaration)
        return std::nullopt;
    skeleton.leftOut = std::move(reader.leftOut());
    skeleton.names = std::move(reader.names());
    return skeleton;
}

} // namespace

std::optional<ParsedXml> readRootChildren(const TextOpener& open, const QString& path, const std::stop_token& stop,
                                          RootChildrenSink& sink) {
    return readChildren(open, path, stop, &sink, nullptr, nullptr);
}

std::optional<ParsedXml> readTopChildren(const TextOpener& open, const QString& path, const std::stop_token& stop,
                                         const SkippableNames* skippable, TopChildrenSink& sink) {
    return readChildren(open, path, stop, nullptr, &sink, skippable);
}

xmlNode* elementFromStartTag(xmlDoc* doc, xmlNode* parent, std::string_view qualifiedName,
                             std::span<const NamespaceDeclaration> declarations) {
    const std::size_t colon = qualifiedName.find(':');
    const std::string_view prefix =
        colon == std::string_view::npos ? std::string_view() : qualifiedName.substr(0, colon);
    const std::string name(qualifiedName.substr(colon + 1)); // all of it without a colon
    xmlNode* element = xmlNewDocNode(doc, nullptr, xmlChars(name.c_str()), nullptr);
    if (!element)
        throw std::bad_alloc();
    if (parent)
        xmlAddChild(parent, element);
    else
        xmlDocSetRootElement(doc, element);
    for (const NamespaceDeclaration& declaration : declarations) {
        const std::string declared(declaration.prefix);
        xmlNs* ns = xmlNewNs(element, xmlChars(std::string(declaration.uri).c_str()),
                             declared.empty() ? nullptr : xmlChars(declared.c_str()));
        if (!ns)
            throw std::bad_alloc();
        if (declaration.prefix == prefix)
            xmlSetNs(element, ns);
    }
    return element;
}

} // namespace corvanta
