#pragma once

#include "engine/join/joinhost.h"
#include "engine/join/mergemode.h"
#include "engine/join/steprunner.h"
#include "engine/xml/xmldocument.h"

#include <QString>

namespace corvanta {

/// Combine mode: the first input's document, with the top-level nodes of every later input added at the end of
/// its root, in list order, saved to \a workingPath. Every input is read and parsed as Merge reads and parses it;
/// a later input whose root element differs from the first's in local name or namespace, or an input that does
/// not parse, stops the run before anything is written (Stopped). With \a unique, a later top-level node whose
/// text, as written in the result, is that of a node already there is left out.
/// The inputs are parsed ahead on two other threads, as in Merge (see \a parseAhead there), and each later input's
/// top-level nodes are written out as text as they are parsed: neither a later input nor the result is held as a
/// tree. Holds the host's busy pointer and moves its progress as Merge does.
MergeOutcome runCombineMode(JoinHost& host, StepRunner& steps, const QString& workingPath, bool unique,
                            int parseAhead = 16);

/// The message that stops a Combine whose inputs \a firstPath and \a laterPath have the root elements \a first and
/// \a later, which differ in local name or namespace.
QString differentRootMessage(const QString& firstPath, const xmlNode* first, const QString& laterPath,
                             const xmlNode* later);

/// True when the root elements \a a and \a b have the same local name and namespace.
bool sameRootElement(const xmlNode* a, const xmlNode* b);

} // namespace corvanta
