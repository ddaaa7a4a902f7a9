#pragma once

#include <QString>
#include <QUrl>

namespace corvanta {

/// Hands a document, folder or web page to the desktop, which opens it with the user's default application.
/// The window goes through this and nothing else, so tests put a recorder in its place.
class ShellOpener {
public:
    virtual ~ShellOpener() = default;
    /// Opens \a target: an absolute local path (a file, or a folder ending in "/") or an http(s) address. The
    /// outcome is not reported: a target that cannot be opened gives no message.
    virtual void open(const QString& target) = 0;
};

/// The address the desktop is given for \a target: web addresses as they are, every other target as a local
/// file, so that spaces, "#" and "%" in a path reach the opening application as part of the path.
QUrl shellUrl(const QString& target);

/// Opens targets through QDesktopServices, which does not wait for the opened application.
class DesktopShellOpener final : public ShellOpener {
public:
    void open(const QString& target) override;
};

} // namespace corvanta
