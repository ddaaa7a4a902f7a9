#pragma once

#include <QElapsedTimer>
#include <QtGlobal>
#include <chrono>
#include <cstdio>

namespace corvanta {

/// True when \a stream is a terminal.
bool isTerminal(std::FILE* stream);

/// When the progress line appears and how often it may change.
struct ProgressTiming {
    std::chrono::milliseconds delay{1000};
    std::chrono::milliseconds interval{100};
};

/// How far a long join has come, as one line on a terminal that rewrites itself. Stays silent on anything but a
/// terminal and until the timing's delay has passed since it was made, so scripts and short joins see no change.
class ProgressLine {
public:
    ProgressLine(std::FILE* stream, ProgressTiming timing);
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    /// True when update() would draw now: callers may gather its figures only then.
    bool due() const;
    /// Shows \a done of \a total files and \a bytesRead, at most once per the timing's interval.
    void update(int done, int total, qint64 bytesRead);
    /// Removes the line, leaving the cursor where the line began; before other text and at the end.
    void clear();

private:
    void draw(const QByteArray& line);

    std::FILE* m_stream;
    bool m_terminal;
    ProgressTiming m_timing;
    QElapsedTimer m_sinceStart;
    QElapsedTimer m_sinceDrawn;
    qsizetype m_shownWidth = 0;
};

} // namespace corvanta
