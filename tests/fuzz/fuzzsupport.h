#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <cstddef>
#include <cstdint>

/// What the fuzz targets share: their inputs as files in a scratch folder, the split of one input into several,
/// and the check that ends the run with a finding.

/// The fuzzing engine's entry point, also called by the replay driver of the normal test suite.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace fuzz {

/// Separates the inputs of one run: a form feed is no XML character, so it never ends up inside a document.
constexpr char kInputSeparator = '\f';

/// The bytes the fuzzing engine hands over.
QByteArray bytesOf(const std::uint8_t* data, std::size_t size);

/// \a data cut at the first \a maxParts - 1 separators; the last part keeps any later ones.
QByteArrayList splitInputs(const QByteArray& data, int maxParts);

/// Writes each of \a contents to a fixed file of this process's scratch folder (in memory where the system has
/// /dev/shm) and returns their paths; the join's working folders go there too. Aborts when it cannot.
QStringList writeInputs(const QByteArrayList& contents, const QString& prefix);

/// A text that only files beside the inputs hold: "canary.txt" holds it, "canary.dtd" declares the entity
/// "fromdtd" as it. A result or message that shows it read something outside its input's own text.
const char* canary();

/// Ends the process with a finding when \a holds is false: libFuzzer then keeps the input that broke \a what.
void check(bool holds, const char* what);

/// True when \a text holds a surrogate that is not half of a pair.
bool hasLoneSurrogate(const QString& text);

} // namespace fuzz
