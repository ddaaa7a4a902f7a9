#include "mergemode.h"

namespace corvanta {

bool runMergeMode(JoinHost& host, StepRunner& steps, const QString& workingPath) {
    Q_UNUSED(host);
    Q_UNUSED(steps);
    Q_UNUSED(workingPath);
    return true;
}

} // namespace corvanta
