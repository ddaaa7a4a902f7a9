#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdio>

/// A real pseudo-terminal: what a program writes to its slave side is read back from the master side, after the
/// terminal's usual output processing.
class PseudoTerminal {
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    bool isValid() const { return m_slave != nullptr; }
    /// The slave side's device path, for a child process to open.
    QString slavePath() const { return m_slavePath; }
    /// The slave side, open for writing, for a join in this process.
    std::FILE* slave() const { return m_slave; }
    /// Closes the slave side and returns everything written to it.
    QByteArray readAll();

private:
    int m_master = -1;
    QString m_slavePath;
    std::FILE* m_slave = nullptr;
};

/// The lines a terminal shows after receiving \a bytes: CR returns to the start of the line, LF moves down, other
/// bytes overwrite. Trailing spaces are dropped and so are empty lines at the end.
QStringList screenLines(const QByteArray& bytes);
