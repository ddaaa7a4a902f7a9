#pragma once

#include "joinhost.h"
#include "steprunner.h"

#include <QString>

namespace corvanta {

/// Merge mode: parses every listed input, checks each against the one before it and moves second-level nodes of
/// later inputs into the first document, which is saved to \a workingPath.
/// Returns false when the run stopped on a structure difference: nothing was written then.
bool runMergeMode(JoinHost& host, StepRunner& steps, const QString& workingPath);

} // namespace corvanta
