#include "tests/cli/pseudoterminal.h"

#include <QFile>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

PseudoTerminal::PseudoTerminal() {
    m_master = posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0)
        return;
    m_slavePath = QFile::decodeName(ptsname(m_master));
    const int slave = open(ptsname(m_master), O_WRONLY | O_NOCTTY);
    if (slave >= 0)
        m_slave = fdopen(slave, "w");
}

PseudoTerminal::~PseudoTerminal() {
    if (m_slave)
        std::fclose(m_slave);
    if (m_master >= 0)
        close(m_master);
}

QByteArray PseudoTerminal::readAll() {
    if (m_slave) {
        std::fclose(m_slave);
        m_slave = nullptr;
    }
    // With the slave side closed the master reads what is left, then fails with EIO; the poll only guards
    // against a hang should that never come.
    QByteArray bytes;
    pollfd ready{m_master, POLLIN, 0};
    while (poll(&ready, 1, 5000) > 0) {
        char buffer[4096];
        const ssize_t count = read(m_master, buffer, sizeof buffer);
        if (count <= 0)
            break;
        bytes.append(buffer, count);
    }
    return bytes;
}

QStringList screenLines(const QByteArray& bytes) {
    QList<QByteArray> lines{QByteArray()};
    qsizetype column = 0;
    for (const char byte : bytes) {
        if (byte == '\r') {
            column = 0;
        } else if (byte == '\n') {
            lines.append(QByteArray());
        } else {
            QByteArray& line = lines.last();
            if (line.size() <= column)
                line.resize(column + 1, ' ');
            line[column++] = byte;
        }
    }
    QStringList screen;
    for (QByteArray line : lines) {
        while (line.endsWith(' '))
            line.chop(1);
        screen.append(QString::fromUtf8(line));
    }
    while (!screen.isEmpty() && screen.last().isEmpty())
        screen.removeLast();
    return screen;
}
