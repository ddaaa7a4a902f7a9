// Combine's inputs: two documents cut from one input at its first form feed (a document without one is
// combined with itself). An input read by Expat must give what libxml2's tree gives: the same verdict, the
// same message, the same result to the byte.
#include "engine/xml/combineddocument.h"
#include "engine/xml/xmlparser.h"
#include "tests/fuzz/fuzzsupport.h"

#include <QFile>

using namespace corvanta;

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

struct Combined {
    QString error;
    QByteArray result;
};

Combined combine(const QByteArray& first, const QByteArray& later, bool expat, const QString& path) {
    const auto described = [](const XmlParseError& error) {
        return QStringLiteral("%1 %2:%3 ").arg(error.reason).arg(error.line).arg(error.column);
    };
    RootChildrenWriter firstWriter(false);
    BuiltByLibxml2 firstBuiltByLibxml2(firstWriter);
    ParsedXml parsedFirst = parseXml(first, QStringLiteral("first.xml"), {}, nullptr,
                                     expat ? static_cast<ElementTaker*>(&firstWriter) : &firstBuiltByLibxml2);
    Combined outcome;
    outcome.error = described(parsedFirst.error);
    CombinedDocument combined(std::move(parsedFirst), &firstWriter, false);
    if (!combined.root())
        return outcome;
    const std::shared_ptr<const CombineTarget> target = combined.target();
    RootChildrenWriter writer([&] { return target; }, later.size(), false);
    BuiltByLibxml2 builtByLibxml2(writer);
    const ParsedXml parsed = parseXml(later, QStringLiteral("later.xml"), {}, nullptr,
                                      expat ? static_cast<ElementTaker*>(&writer) : &builtByLibxml2);
    outcome.error += described(parsed.error);
    if (!parsed.doc)
        return outcome;
    combined.add(&writer, rootElement(parsed.doc.get()), later.size());
    combined.save(path);
    QFile saved(path);
    fuzz::check(saved.open(QIODevice::ReadOnly), "the combined document can be read back");
    outcome.result = saved.readAll();
    return outcome;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArrayList parts = fuzz::splitInputs(fuzz::bytesOf(data, size), 2);
    const QByteArray& first = parts.first();
    const QByteArray& later = parts.last();
    const QString path = fuzz::writeInputs({QByteArray()}, QStringLiteral("combined")).first();
    const Combined byExpat = combine(first, later, true, path);
    const Combined byLibxml2 = combine(first, later, false, path);
    fuzz::check(byExpat.error == byLibxml2.error, "Expat and libxml2 refuse the same texts in the same words");
    fuzz::check(byExpat.result == byLibxml2.result, "Expat's nodes are written as libxml2's are");
    return 0;
}
