// Combine's inputs: two documents cut from one input at its first form feed (a document without one is
// combined with itself). An input read by Expat must give what libxml2's tree gives: the same verdict, the
// same message, the same result to the byte. So must a first input.
#include "tests/fuzz/fuzzsupport.h"
#include "tests/support/combinedtexts.h"

using namespace corvanta;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArrayList parts = fuzz::splitInputs(fuzz::bytesOf(data, size), 2);
    const QByteArray& first = parts.first();
    const QByteArray& later = parts.last();
    const TextOpener whole = [&]() -> TextPieces {
        return [rest = QByteArrayView(later)]() mutable { return std::exchange(rest, {}); };
    };
    const QString path = fuzz::writeInputs({QByteArray()}, QStringLiteral("combined")).first();
    const CombinedTexts byExpat = combineTexts(first, whole, later.size(), true, path);
    const CombinedTexts byLibxml2 = combineTexts(first, whole, later.size(), false, path);
    fuzz::check(byExpat.errors == byLibxml2.errors, "Expat and libxml2 refuse the same texts in the same words");
    fuzz::check(byExpat.result == byLibxml2.result, "Expat's nodes are written as libxml2's are");
    return 0;
}
