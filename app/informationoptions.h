#pragma once

#include <QStringList>
#include <cstdio>
#include <optional>

namespace corvanta {

/// Answers --help and --version on \a out. They need no display, so call this before the QApplication exists.
/// \a arguments start with the program name. Returns the exit status when the program should end there; every
/// other argument is left to Qt, which takes its own options (-platform, -style, ...), and ignored.
std::optional<int> answerInformationOptions(const QStringList& arguments, std::FILE* out);

} // namespace corvanta
