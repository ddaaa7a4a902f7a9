#pragma once

#include <QString>
#include <exception>
#include <optional>
#include <vector>

namespace corvanta {

struct PreparedInput;

/// Why a join that keeps going left an input out: the kinds of problem the check tells of.
enum class SkipCause {
    Unreadable,     ///< missing, or could not be read
    NotWellFormed,  ///< the text does not parse
    DifferentRoot,  ///< the root's base name differs from the base document's
    DifferentCount, ///< the root has another number of top-level nodes than the base document's (Merge only)
};

/// The root of a usable input, as the inputs after it are compared with it.
struct InputShape {
    QString path;
    QString root; ///< base name
    qsizetype topLevelNodes = 0;
    QString rootNamespace; ///< compared by Combine only
};

/// One input that a join which keeps going left out, with the same details as the check gives.
struct SkippedInput {
    int index = 0; ///< 1-based, in the list
    QString path;
    SkipCause cause = SkipCause::Unreadable;
    /// The system's or libxml2's words, for Unreadable and NotWellFormed.
    QString reason;
    /// libxml2's 1-based position of the error, for NotWellFormed.
    int line = 0;
    int column = 0;
    /// The input's own root, for DifferentRoot and DifferentCount, and the base document it was compared with.
    InputShape shape;
    InputShape base;

    /// "PATH: " and what is wrong, in the words of the check.
    QString statusLine() const;

    /// An input that could not be read for \a failure (a Failure or another exception). Throws \a failure when it
    /// is std::bad_alloc: memory that ran out ends the join instead.
    static SkippedInput unreadable(int index, const QString& path, const std::exception_ptr& failure);
};

/// Why \a input, item \a index at \a path, cannot be joined, or nothing when it can: it could not be read, was
/// missing or did not parse; or, with a \a base (the first usable input), its root's base name differs from the
/// base's or, with \a compareCount, its number of top-level nodes does. Throws std::bad_alloc as unreadable().
std::optional<SkippedInput> inputProblem(int index, const QString& path, const PreparedInput& input,
                                         const InputShape* base, bool compareCount);

/// The shape of the root of \a input, which inputProblem() found usable.
InputShape inputShape(const QString& path, const PreparedInput& input);

/// "1 top-level node" or "N top-level nodes", as the lines about an input's shape say it.
QString nodeCount(qsizetype count);
/// \a description without the "\a path: " that the file routines put in front of the system's reason: a line that
/// names the path once, at its start.
QString systemReason(const QString& description, const QString& path);

/// The box at the end of a join that left inputs out: how many, then the first ten status lines and how many more.
QString skippedInputsMessage(const std::vector<SkippedInput>& skipped);

} // namespace corvanta
