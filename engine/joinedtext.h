#pragma once

#include <QByteArray>
#include <QString>

namespace corvanta {

/// The joined text handed to the results window, kept as the working file's bytes: a window decodes it, a
/// console writes it out again without the round trip through UTF-16.
class JoinedText {
public:
    JoinedText() = default;

    /// What readTextFile() returns for the file at \a path (throws Failure when it cannot be read).
    static JoinedText fromFile(const QString& path);

    /// The text, as readTextFile() makes it of the file.
    QString text() const;
    /// The text in the system code page.
    QByteArray encoded() const;

private:
    QByteArray m_fileBytes;
};

} // namespace corvanta
