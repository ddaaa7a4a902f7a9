// Merge: two documents cut from one input at its first form feed (a document without one is merged with itself),
// joined through the join command; when a result is handed off, it is checked as a document of its own. The same
// inputs merged one after another, writing elements out as they are parsed, must give what a merge of whole
// documents gives.
#include "engine/join/joincommand.h"
#include "engine/join/mergemode.h"
#include "engine/text/textfile.h"
#include "tests/fuzz/fuzzsupport.h"
#include "tests/support/mergerecord.h"
#include "tests/support/recordinghost.h"
#include "tests/support/testfiles.h"

#include <QDir>
#include <QFileInfo>
#include <libxml/parser.h>
#include <memory>
#include <vector>

using namespace corvanta;

namespace {

using Document = std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)>;

/// \a xml parsed as any reader of the saved file would: nothing loaded from outside, entities kept as references,
/// and the text taken as the UTF-8 it is whatever its declaration names.
/// Null unless the text is well-formed and namespace-well-formed.
Document parseStrictly(const QByteArray& xml, int options = 0) {
    const std::unique_ptr<xmlParserCtxt, decltype(&xmlFreeParserCtxt)> context(xmlNewParserCtxt(), &xmlFreeParserCtxt);
    fuzz::check(context != nullptr, "a parser context can be made");
    Document doc(
        xmlCtxtReadMemory(context.get(), xml.constData(), int(xml.size()), nullptr, "UTF-8",
                          XML_PARSE_NONET | XML_PARSE_IGNORE_ENC | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | options),
        &xmlFreeDoc);
    if (!context->wellFormed || !context->nsWellFormed)
        doc.reset();
    return doc;
}

QByteArray namespaceOf(const xmlNode* element) {
    return element->ns && element->ns->href ? QByteArray(reinterpret_cast<const char*>(element->ns->href)) : "";
}

QByteArray stringValue(const xmlNode* element) {
    const std::unique_ptr<xmlChar, decltype(xmlFree)> content(xmlNodeGetContent(element), xmlFree);
    return content ? QByteArray(reinterpret_cast<const char*>(content.get())) : QByteArray();
}

std::vector<const xmlNode*> childElements(const xmlNode* parent) {
    std::vector<const xmlNode*> elements;
    for (const xmlNode* child = parent->children; child; child = child->next)
        if (child->type == XML_ELEMENT_NODE)
            elements.push_back(child);
    return elements;
}

// An element of the first document is found in the result by its path of element positions: moved nodes only
// ever follow the first document's own children, so that path does not change. Below the top-level nodes nothing
// is added, so there the string values stay too.
void checkKeptElement(const xmlNode* original, const xmlNode* merged, int depth) {
    fuzz::check(xmlStrEqual(original->name, merged->name) && namespaceOf(original) == namespaceOf(merged),
                "every element of the first document keeps its name and namespace URI");
    if (depth >= 2)
        fuzz::check(stringValue(original) == stringValue(merged),
                    "every element below the top-level nodes keeps its string value");
    const std::vector<const xmlNode*> originals = childElements(original);
    const std::vector<const xmlNode*> mergedChildren = childElements(merged);
    fuzz::check(mergedChildren.size() >= originals.size(), "no element of the first document is lost");
    if (depth >= 2)
        fuzz::check(mergedChildren.size() == originals.size(), "nothing is added below the top-level nodes");
    for (std::size_t i = 0; i < originals.size(); ++i)
        checkKeptElement(originals[i], mergedChildren[i], depth + 1);
}

/// What a Merge on this thread alone wrote and told.
MergeRecord mergeInSequence(const QStringList& paths, MergeParsing parsing) {
    return recordMerge(paths, QFileInfo(paths.front()).dir().filePath(QStringLiteral("merge-working.xml")), 0, parsing);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QByteArrayList inputs = fuzz::splitInputs(fuzz::bytesOf(data, size), 2);
    const bool withItself = inputs.size() == 1;
    if (withItself)
        inputs << inputs.front();
    const QStringList paths = fuzz::writeInputs(inputs, QStringLiteral("merge"));
    RecordingHost host(paths);

    const char* canary = fuzz::canary();

    joinFiles(host);
    // In sequence, the second input is parsed once the first is in, so that its elements are written ahead.
    fuzz::check(mergeInSequence(paths, MergeParsing::LeaveOutKnownNames) ==
                    mergeInSequence(paths, MergeParsing::BuildEveryNode),
                "elements written as they are parsed give the result and the words of whole documents");

    fuzz::check(!(host.events.join(QString()) + host.resultsText).contains(QLatin1String(canary)),
                "nothing outside the inputs is read: no canary in the result or a message");
    if (!host.handedOff())
        return 0; // an input that does not parse, or two of different structure
    const QByteArray result = host.resultsText.toUtf8();
    const Document merged = parseStrictly(result);
    fuzz::check(merged != nullptr, "the saved result parses again, namespace-well-formed");
    const QByteArray firstText = readTextFileEncoded(paths.front());
    const Document first = parseStrictly(firstText);
    fuzz::check(first != nullptr, "a first document that Merge took is namespace-well-formed");
    // Indentation is no node for Merge: it may go where there was none, and come where there was some.
    dropIndentation(xmlDocGetRootElement(first.get()));
    dropIndentation(xmlDocGetRootElement(merged.get()));
    checkKeptElement(xmlDocGetRootElement(first.get()), xmlDocGetRootElement(merged.get()), 0);
    if (withItself && host.messages().isEmpty())
        fuzz::check(canonicalXml(result, true, true) == canonicalXml(firstText, true, true),
                    "a document merged with itself comes back unchanged");
    return 0;
}
