// Append: up to four inputs, cut from one at form feeds, joined through the join command as the joiner runs it.
#include "engine/join/joincommand.h"
#include "engine/text/textfile.h"
#include "tests/fuzz/fuzzsupport.h"
#include "tests/support/recordinghost.h"

using namespace corvanta;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArrayList inputs = fuzz::splitInputs(fuzz::bytesOf(data, size), 4);
    RecordingHost host(fuzz::writeInputs(inputs, QStringLiteral("append")), true);

    joinFiles(host);

    fuzz::check(host.messages().isEmpty(), "Append of readable files shows no message");
    fuzz::check(host.handedOff(), "Append hands its result to the results window");
    // The oracle: each input decoded on its own, a zero-length one as the text "empty file".
    QString expected;
    for (const QByteArray& input : inputs)
        expected += input.isEmpty() ? QStringLiteral("empty file") : decodeFileText(input);
    fuzz::check(host.resultsText == expected, "the result is the inputs' decoded texts in order");
    return 0;
}
