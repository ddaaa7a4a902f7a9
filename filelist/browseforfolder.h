#pragma once

#include <QString>

class QWidget;

namespace corvanta {

/// Lets the user choose a folder in a modal folder chooser owned by \a owner, with \a title as its caption.
/// Only existing folders can be chosen. Returns the chosen folder's absolute path, or an empty text when the
/// user cancels. Qt's own dialog rather than the platform's, so that it looks and behaves the same everywhere.
QString chooseFolder(QWidget* owner, const QString& title);

} // namespace corvanta
