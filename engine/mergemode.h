#pragma once

#include "joinhost.h"
#include "steprunner.h"

#include <QString>

namespace corvanta {

/// How a Merge run ended.
enum class MergeOutcome {
    /// Stopped on a structure difference: nothing was written.
    Stopped,
    /// The first document was saved (or, having no root, wrote nothing).
    Saved,
    /// The save failed and was reported; the working file must not be handed off.
    NotSaved,
};

/// Merge mode: parses every listed input, checks each against the one before it and moves second-level nodes of
/// later inputs into the first document, which is saved to \a workingPath. Holds the host's busy pointer and moves
/// its progress before each input is read, as Append mode does.
MergeOutcome runMergeMode(JoinHost& host, StepRunner& steps, const QString& workingPath);

} // namespace corvanta
