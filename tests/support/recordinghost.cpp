#include "tests/support/recordinghost.h"

void RecordingHost::setBusyPointer(bool busy) {
    note(busy ? QStringLiteral("busy") : QStringLiteral("idle"));
}

void RecordingHost::setProgress(double percent) {
    progress.push_back(percent);
    note(QStringLiteral("progress %1").arg(percent));
}

void RecordingHost::showMessage(const QString& text, Icon icon) {
    note((icon == Icon::Warning ? QStringLiteral("warning:") : QStringLiteral("message:")) + text);
}

void RecordingHost::showErrorReport(const QString& text) {
    note(QStringLiteral("report:") + text);
}

void RecordingHost::setResultsText(const corvanta::JoinedText& text) {
    resultsText = text.text();
    note(QStringLiteral("text"));
}

void RecordingHost::showResults() {
    resultsShown = true;
    note(QStringLiteral("results"));
}

void RecordingHost::hideMain() {
    mainHidden = true;
    note(QStringLiteral("hide"));
}

void RecordingHost::note(const QString& event) {
    events << event;
    if (onEvent)
        onEvent(event);
}

QStringList RecordingHost::messages() const {
    QStringList shown;
    for (const QString& event : events)
        if (event.startsWith(QLatin1String("message:")) || event.startsWith(QLatin1String("warning:")) ||
            event.startsWith(QLatin1String("report:")))
            shown << event;
    return shown;
}

QStringList RecordingHost::reports() const {
    QStringList shown;
    for (const QString& event : events)
        if (event.startsWith(QLatin1String("report:")))
            shown << event.mid(7);
    return shown;
}
