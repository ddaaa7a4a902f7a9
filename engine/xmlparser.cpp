#include "xmlparser.h"

#include <QFileInfo>
#include <QUrl>
#include <algorithm>
#include <cstring>
#include <libxml/SAX2.h>
#include <libxml/catalog.h>
#include <libxml/parserInternals.h>
#include <mutex>
#include <new>

namespace corvanta {

namespace {

/// What one parser run learns besides its document.
struct ParseRun {
    xmlParserCtxt* context = nullptr;
    bool externalRefused = false;
    bool haveError = false;
    XmlParseError firstError;
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
    const QString message = QString::fromUtf8(error.message).trimmed();
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

void setUpLibxml2() {
    static std::once_flag once;
    std::call_once(once, [] {
        xmlInitParser();
        xmlSetExternalEntityLoader(&refuseExternalEntity);
#ifdef LIBXML_CATALOG_ENABLED
        // Catalogs would map identifiers to files on this machine; the loader refuses those anyway.
        xmlCatalogSetDefaults(XML_CATA_ALLOW_NONE);
#endif
    });
}

bool startsWithDeclaration(QByteArrayView text) {
    return text.size() > 5 && text.startsWith("<?xml") &&
           (text[5] == ' ' || text[5] == '\t' || text[5] == '\r' || text[5] == '\n');
}

/// Hands the text to libxml2 piece by piece, as a file would be read, so that it never holds a copy of it all.
struct TextSource {
    QByteArrayView rest;

    static int read(void* context, char* buffer, int length) {
        auto* source = static_cast<TextSource*>(context);
        const qsizetype count = std::min<qsizetype>(length, source->rest.size());
        if (count > 0) {
            std::memcpy(buffer, source->rest.data(), size_t(count));
            source->rest = source->rest.sliced(count);
        }
        return int(count);
    }
};

// Like xmlCtxtReadMemory, but the text is streamed and declared UTF-8 up front: forcing the encoding there would
// run a UTF-8 to UTF-8 conversion, and leaving it open would let libxml2 guess another encoding from the first
// bytes.
XmlDocument readUtf8(xmlParserCtxt* context, QByteArrayView text, const QByteArray& url, int options) {
    TextSource source{text};
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
    context->encoding = xmlStrdup(xmlChars("UTF-8"));
    xmlParseDocument(context);
    XmlDocument doc(context->myDoc);
    context->myDoc = nullptr;
    if (!context->wellFormed)
        doc.reset();
    return doc;
}

XmlDocument parseOnce(QByteArrayView text, const QByteArray& url, bool validate, ParseRun& run) {
    const XmlParserContext context(xmlNewParserCtxt());
    if (!context)
        throw std::bad_alloc();
    context->sax->serror = &captureError;
    context->sax->getParameterEntity = &countingParameterEntity;
    if (validate)
        context->sax->externalSubset = &stopAtExternalSubset;
    run.context = context.get();
    const ActiveRun active(run);
    // Never XML_PARSE_NOENT (entities stay references) nor XML_PARSE_HUGE (keeps the depth and expansion
    // limits), never XML_PARSE_XINCLUDE. Not XML_PARSE_NOBLANKS either: it guesses from the first and last child
    // and so drops spaces of mixed content; dropBlankText() decides.
    const int options =
        XML_PARSE_NONET | XML_PARSE_IGNORE_ENC | XML_PARSE_COMPACT | (validate ? XML_PARSE_DTDVALID : 0);
    XmlDocument doc = readUtf8(context.get(), text, url, options);
    if (!doc)
        return doc;
    const bool conforms = !validate || !doc->intSubset || context->valid;
    if (!context->nsWellFormed || !conforms)
        doc.reset();
    return doc;
}

} // namespace

// The text is taken, not borrowed: a caller that moves it in has its copy freed as soon as the parse ends.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
ParsedXml parseXml(QByteArray text, const QString& path) {
    setUpLibxml2();
    QByteArrayView view(text);
    if (view.startsWith("\xEF\xBB\xBF"))
        view = view.sliced(3);

    ParsedXml parsed;
    parsed.hasDeclaration = startsWithDeclaration(view);
    const QByteArray url = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toEncoded();
    ParseRun run;
    parsed.doc = parseOnce(view, url, true, run);
    if (run.externalRefused) {
        run = ParseRun();
        parsed.doc = parseOnce(view, url, false, run);
    }
    if (parsed.doc) {
        dropBlankText(rootElement(parsed.doc.get()));
    } else {
        parsed.error = run.firstError;
        if (!run.haveError)
            parsed.error.reason = QStringLiteral("The document could not be parsed.");
    }
    return parsed;
}

} // namespace corvanta
