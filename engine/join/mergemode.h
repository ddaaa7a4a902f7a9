#pragma once

#include "engine/join/joinhost.h"
#include "engine/join/steprunner.h"

#include <QString>
#include <functional>
#include <vector>

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

/// How Merge parses the inputs.
enum class MergeParsing {
    /// Second-level elements whose base name the merged document already holds at the same place are never built;
    /// the observer still hears of each as a node left out, in its place. The others are written out as text on
    /// the thread that parses them, each as soon as it is complete, and freed.
    LeaveOutKnownNames,
    /// Every document is built whole and merged node by node, at the cost of time and memory; the result and
    /// everything told are the same.
    BuildEveryNode,
};

/// Merge mode: parses every listed input, checks each against the one before it and moves
/// second-level nodes of later inputs into the first document, which is saved to \a workingPath.
/// The next inputs are read and parsed on two other threads, at most \a parseAhead inputs ahead of the one being
/// merged (fewer when their text is large, see InputPrefetcher); 0 does everything on the calling thread.
/// Messages and reports come in the same order either way. Holds the host's busy pointer and moves its progress
/// before each input is taken, as Append mode does.
MergeOutcome runMergeMode(JoinHost& host, StepRunner& steps, const QString& workingPath, int parseAhead = 16,
                          MergeParsing parsing = MergeParsing::LeaveOutKnownNames);

struct SkippedInput;

/// The end of a Merge or Combine run that went through: \a save writes the result at step 170, then the busy
/// pointer and progress are reset and any inputs left out are shown together.
MergeOutcome finishJoinedInputs(JoinHost& host, StepRunner& steps, const std::vector<SkippedInput>& skipped,
                                const std::function<void()>& save);

struct XmlParseError;

/// The message for an input at \a path that does not parse, as Merge and Combine show it.
QString parseErrorMessage(const QString& path, const XmlParseError& error);

/// Hands the memory of the documents freed back to the system, before a hand-off reads the result once more.
void returnFreedMemoryToSystem();

} // namespace corvanta
