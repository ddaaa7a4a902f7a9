#include "tests/support/combinedtexts.h"

#include "engine/join/combinemode.h"
#include "engine/xml/combineddocument.h"

#include <QFile>

namespace corvanta {

namespace {

/// Takes what a writer takes, but never from the text: the input is built by libxml2.
class BuiltByLibxml2 final : public ElementTaker {
public:
    explicit BuiltByLibxml2(RootChildrenWriter& writer)
        : m_writer(writer) {}
    bool take(qsizetype topIndex, xmlNode* node) override { return m_writer.take(topIndex, node); }
    bool fits(const xmlNode* root) const override { return m_writer.fits(root); }
    void forget() override { m_writer.forget(); }
    bool takesRootChildren() const override { return true; }

private:
    RootChildrenWriter& m_writer;
};

QString described(const XmlParseError& error) {
    return QStringLiteral("%1 %2:%3 ").arg(error.reason).arg(error.line).arg(error.column);
}

} // namespace

CombinedTexts combineTexts(const QByteArray& first, const TextOpener& later, qsizetype laterSize, bool fromText,
                           const QString& path) {
    CombinedTexts combinedTexts;
    RootChildrenWriter firstWriter(false);
    BuiltByLibxml2 firstBuilt(firstWriter);
    ParsedXml parsedFirst = parseXml(first, QStringLiteral("first.xml"), {}, nullptr,
                                     fromText ? static_cast<ElementTaker*>(&firstWriter) : &firstBuilt);
    combinedTexts.errors = described(parsedFirst.error);
    CombinedDocument combined(std::move(parsedFirst), &firstWriter, false);
    if (!combined.root())
        return combinedTexts;
    const std::shared_ptr<const CombineTarget> target = combined.target();
    RootChildrenWriter writer([&] { return target; }, laterSize, false);
    BuiltByLibxml2 built(writer);
    const ParsedXml parsed = parseXml(later, QStringLiteral("later.xml"), {}, nullptr,
                                      fromText ? static_cast<ElementTaker*>(&writer) : &built);
    combinedTexts.errors += described(parsed.error);
    if (!parsed.doc)
        return combinedTexts;
    xmlNode* root = rootElement(parsed.doc.get());
    combinedTexts.sameRoot = sameRootElement(combined.root(), root);
    combined.add(&writer, root, laterSize);
    combined.save(path);
    QFile saved(path);
    if (saved.open(QIODevice::ReadOnly))
        combinedTexts.result = saved.readAll();
    return combinedTexts;
}

} // namespace corvanta
