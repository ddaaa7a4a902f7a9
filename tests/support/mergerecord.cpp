#include "tests/support/mergerecord.h"

#include "engine/join/steprunner.h"
#include "engine/report/joinreport.h"
#include "tests/support/recordinghost.h"

#include <QFile>

using namespace corvanta;

MergeRecord recordMerge(const QStringList& paths, const QString& workingPath, int parseAhead, MergeParsing parsing) {
    JoinReport report(JoinReport::Mode::Merge);
    RecordingHost host(paths);
    host.observer = &report;
    StepRunner steps([&](int step, const QString& description) {
        host.showErrorReport(QStringLiteral("%1 at %2").arg(description).arg(step));
    });
    QFile::remove(workingPath);

    const MergeOutcome outcome = runMergeMode(host, steps, workingPath, parseAhead, parsing);

    report.finish(outcome == MergeOutcome::Saved);
    MergeRecord record{report.toJson(), host.events, {}};
    if (QFile file(workingPath); file.open(QIODevice::ReadOnly))
        record.output = file.readAll();
    return record;
}
