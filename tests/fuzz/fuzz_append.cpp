// Append: up to four inputs, cut from one at form feeds, joined through the join command as the joiner runs it.
#include "engine/join/joincommand.h"
#include "engine/text/failure.h"
#include "engine/text/textfile.h"
#include "tests/fuzz/fuzzsupport.h"
#include "tests/support/recordinghost.h"

using namespace corvanta;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArrayList inputs = fuzz::splitInputs(fuzz::bytesOf(data, size), 4);
    RecordingHost host(fuzz::writeInputs(inputs, QStringLiteral("append")), true);

    joinFiles(host);

    // The oracle: each input decoded on its own, a zero-length one as the text "empty file"; one that the reader
    // refuses (a declared encoding it cannot read, UTF-16 that is not) adds nothing and is told.
    QString expected;
    bool refused = false, read = false;
    for (const QByteArray& input : inputs) {
        try {
            expected += input.isEmpty() ? QStringLiteral("empty file") : decodeFileText(input);
            read = true;
        } catch (const Failure&) {
            refused = true;
        }
    }
    fuzz::check(host.messages().isEmpty() != refused, "Append shows a message exactly when it refuses an input");
    fuzz::check(host.handedOff() == read, "Append hands a result to the results window when it read an input");
    fuzz::check(host.resultsText == expected, "the result is the inputs' decoded texts in order");
    return 0;
}
