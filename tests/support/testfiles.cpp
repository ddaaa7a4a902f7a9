#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <libxml/c14n.h>
#include <libxml/parser.h>
#include <memory>

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        QFAIL(qPrintable(QStringLiteral("cannot write %1: %2").arg(path, file.errorString())));
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning("cannot read %s: %s", qPrintable(path), qPrintable(file.errorString()));
        return {};
    }
    return file.readAll();
}

QByteArray canonicalXml(const QByteArray& xml, bool withComments) {
    std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)> doc(
        xmlReadMemory(xml.constData(), int(xml.size()), nullptr, "UTF-8", XML_PARSE_NONET | XML_PARSE_NOBLANKS),
        &xmlFreeDoc);
    if (!doc)
        return QByteArrayLiteral("<not well-formed>");
    xmlChar* out = nullptr;
    const int size = xmlC14NDocDumpMemory(doc.get(), nullptr, XML_C14N_1_0, nullptr, withComments ? 1 : 0, &out);
    QByteArray canonical(reinterpret_cast<const char*>(out), size < 0 ? 0 : size);
    xmlFree(out);
    return canonical;
}
