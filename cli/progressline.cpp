#include "cli/progressline.h"

#include <QByteArray>
#include <QString>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace corvanta {

bool isTerminal(std::FILE* stream) {
    // Qt has no test for a terminal.
#ifdef Q_OS_WIN
    return _isatty(_fileno(stream)) != 0;
#else
    return isatty(fileno(stream)) != 0;
#endif
}

ProgressLine::ProgressLine(std::FILE* stream, ProgressTiming timing)
    : m_stream(stream)
    , m_terminal(isTerminal(stream))
    , m_timing(timing) {
    m_sinceStart.start();
}

ProgressLine::~ProgressLine() {
    clear();
}

bool ProgressLine::due() const {
    if (!m_terminal || m_sinceStart.elapsed() < m_timing.delay.count())
        return false;
    return m_shownWidth == 0 || !m_sinceDrawn.isValid() || m_sinceDrawn.elapsed() >= m_timing.interval.count();
}

void ProgressLine::update(int done, int total, qint64 bytesRead) {
    if (!due())
        return;
    // A fixed unit and no file names keep the line short enough never to wrap, which would break the rewrite.
    draw(QStringLiteral("corvanta-join: %1 of %2 files, %3 MB read")
             .arg(done)
             .arg(total)
             .arg(double(bytesRead) / 1e6, 0, 'f', 1)
             .toUtf8());
    m_sinceDrawn.start();
}

void ProgressLine::clear() {
    if (m_shownWidth == 0)
        return;
    // Spaces rather than an erase sequence: every terminal, even a dumb one, understands them.
    const QByteArray blank = '\r' + QByteArray(m_shownWidth, ' ') + '\r';
    std::fwrite(blank.constData(), 1, blank.size(), m_stream);
    std::fflush(m_stream);
    m_shownWidth = 0;
}

void ProgressLine::draw(const QByteArray& line) {
    QByteArray text = '\r' + line;
    if (line.size() < m_shownWidth)
        text += QByteArray(m_shownWidth - line.size(), ' ');
    std::fwrite(text.constData(), 1, text.size(), m_stream);
    std::fflush(m_stream);
    m_shownWidth = qMax(m_shownWidth, line.size());
}

} // namespace corvanta
