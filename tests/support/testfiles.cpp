#include "tests/support/testfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <csignal>
#include <libxml/c14n.h>
#include <libxml/parser.h>
#include <memory>
#include <sys/resource.h>
#include <utility>
#include <vector>

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        QFAIL(qPrintable(QStringLiteral("cannot write %1: %2").arg(path, file.errorString())));
}

void TestFolders::renew() {
    m_files = std::make_unique<QTemporaryDir>();
    QVERIFY(m_files->isValid());
    if (!m_freshTemp)
        return;
    m_temp = std::make_unique<QTemporaryDir>();
    QVERIFY(m_temp->isValid());
    qputenv("TEMP", QFile::encodeName(m_temp->path()));
}

QStringList TestFolders::writeFiles(const QByteArrayList& texts, const QString& pattern) const {
    QStringList paths;
    for (const QByteArray& text : texts) {
        paths << filePath(pattern.arg(paths.size() + 1));
        writeFile(paths.last(), text);
    }
    return paths;
}

QStringList TestFolders::tempEntries() const {
    return QDir(tempPath()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning("cannot read %s: %s", qPrintable(path), qPrintable(file.errorString()));
        return {};
    }
    return file.readAll();
}

FileSizeLimit::FileSizeLimit(qint64 bytes) {
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    m_previous = limit.rlim_cur;
    m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    limit.rlim_cur = rlim_t(bytes);
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
        qWarning("cannot limit the file size");
}

FileSizeLimit::~FileSizeLimit() {
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = rlim_t(m_previous);
    setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, m_previousHandler);
}

namespace {

bool preservesSpace(const xmlNode* element, bool inherited) {
    const auto space = reinterpret_cast<const xmlChar*>("space");
    const auto xmlNamespace = reinterpret_cast<const xmlChar*>("http://www.w3.org/XML/1998/namespace");
    xmlChar* value = xmlGetNsProp(element, space, xmlNamespace);
    if (!value)
        return inherited;
    const bool preserve = xmlStrEqual(value, reinterpret_cast<const xmlChar*>("preserve"));
    xmlFree(value);
    return preserve;
}

bool holdsText(const xmlNode* element) {
    for (const xmlNode* child = element->children; child; child = child->next)
        if ((child->type == XML_TEXT_NODE && !xmlIsBlankNode(child)) || child->type == XML_CDATA_SECTION_NODE ||
            child->type == XML_ENTITY_REF_NODE)
            return true;
    return false;
}

} // namespace

void dropIndentation(xmlNode* root) {
    std::vector<std::pair<xmlNode*, bool>> pending{{root, preservesSpace(root, false)}};
    while (!pending.empty()) {
        const auto [element, preserve] = pending.back();
        pending.pop_back();
        const bool drop = !preserve && !holdsText(element);
        for (xmlNode *child = element->children, *next = nullptr; child; child = next) {
            next = child->next;
            if (child->type == XML_TEXT_NODE && drop && xmlIsBlankNode(child)) {
                xmlUnlinkNode(child);
                xmlFreeNode(child);
            } else if (child->type == XML_ELEMENT_NODE) {
                pending.emplace_back(child, preservesSpace(child, preserve));
            }
        }
    }
}

QByteArray canonicalXml(const QByteArray& xml, bool withComments, bool replaceEntities) {
    // Replacing entities must not read a file that an external one names, as the engine never does.
    if (replaceEntities)
        xmlSetExternalEntityLoader(
            [](const char*, const char*, xmlParserCtxtPtr) -> xmlParserInputPtr { return nullptr; });
    const int options = XML_PARSE_NONET | XML_PARSE_IGNORE_ENC | (replaceEntities ? XML_PARSE_NOENT : 0);
    std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)> doc(
        xmlReadMemory(xml.constData(), int(xml.size()), nullptr, "UTF-8", options), &xmlFreeDoc);
    if (!doc || !xmlDocGetRootElement(doc.get()))
        return QByteArrayLiteral("<not well-formed>");
    dropIndentation(xmlDocGetRootElement(doc.get()));
    xmlChar* out = nullptr;
    const int size = xmlC14NDocDumpMemory(doc.get(), nullptr, XML_C14N_1_0, nullptr, withComments ? 1 : 0, &out);
    QByteArray canonical(reinterpret_cast<const char*>(out), size < 0 ? 0 : size);
    xmlFree(out);
    return canonical;
}
