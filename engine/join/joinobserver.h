#pragma once

#include "engine/text/textfile.h"

#include <QString>
#include <QStringList>
#include <optional>
#include <string_view>

namespace corvanta {

struct SkippedInput;

/// What a join tells about its inputs while it runs. Every call does nothing unless overridden, so the join
/// always has one to tell. Calls come from the thread that runs the join.
class JoinObserver {
public:
    virtual ~JoinObserver() = default;

    /// Merge: list item \a index (1-based) at \a path became the base document. \a root is its root's base name,
    /// empty when it did not parse; \a topLevelNames are the base names of the root's child nodes.
    virtual void mergeBase(int /*index*/, const QString& /*path*/, const QString& /*root*/,
                           const QStringList& /*topLevelNames*/) {}
    /// Merge: item \a index passed the structure check; the nodes it adds or leaves follow.
    virtual void mergeInput(int /*index*/, const QString& /*path*/) {}
    /// Merge: a second-level node of base name \a name under top-level node \a position (0-based) of the input
    /// being merged moved into the base document.
    virtual void nodeAdded(qsizetype /*position*/, std::string_view /*name*/) {}
    /// Merge: such a node stayed out because the base document already had one of that base name there; also
    /// told, in its place in document order, for an element that was never built for that reason.
    virtual void nodeSkipped(qsizetype /*position*/, std::string_view /*name*/) {}
    /// Merge, keeping going: item \a skipped.index was left out, for the reason given.
    virtual void inputSkipped(const SkippedInput& /*skipped*/) {}
    /// Merge: the run stopped at item \a index, which was not merged.
    virtual void mergeStopped(int /*index*/, const QString& /*path*/) {}
    /// Combine: list item \a index at \a path became the base document, whose root holds the others' nodes.
    virtual void combineBase(int /*index*/, const QString& /*path*/) {}
    /// Combine: item \a index added \a added top-level nodes and left out \a repeated ones already there.
    virtual void combined(int /*index*/, const QString& /*path*/, qint64 /*added*/, qint64 /*repeated*/) {}
    /// Combine: the run stopped at item \a index, which was not added.
    virtual void combineStopped(int /*index*/, const QString& /*path*/) {}
    /// Append: item \a index added \a bytes to the result; \a reading is empty when the file could not be read.
    virtual void appended(int /*index*/, const QString& /*path*/, qint64 /*bytes*/,
                          std::optional<TextReading> /*reading*/) {}
};

} // namespace corvanta
