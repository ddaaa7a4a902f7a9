#pragma once

#include "cli/progressline.h"

#include <QStringList>
#include <cstdio>

namespace corvanta {

/// corvanta-join: joins the inputs named in \a arguments (without the program name) and writes the result to
/// \a out or to the file given with -o; messages go to \a err, and so does the progress of a long join when \a err
/// is a terminal. Returns the process exit status.
int runCommandLineJoin(const QStringList& arguments, std::FILE* out, std::FILE* err,
                       ProgressTiming progressTiming = {});

} // namespace corvanta
