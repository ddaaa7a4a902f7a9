#pragma once

#include "engine/join/mergemode.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

/// What one Merge run told its report, showed and wrote.
struct MergeRecord {
    QByteArray report;
    QStringList events;
    QByteArray output;
    bool operator==(const MergeRecord&) const = default;
};

/// Merges \a paths into the working file \a workingPath, which it replaces, as runMergeMode() does with
/// \a parseAhead and \a parsing, and records everything the run told and wrote.
MergeRecord recordMerge(const QStringList& paths, const QString& workingPath, int parseAhead,
                        corvanta::MergeParsing parsing);
