#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

namespace corvanta {

class SettingsStore;

/// Pixels for \a twips (1/1440 inch) at the primary screen's logical DPI.
int twipsToPixels(double twips);
/// Twips for \a pixels at the primary screen's logical DPI.
double pixelsToTwips(int pixels);

/// Centres \a window's frame on the primary screen, keeping its size; a window larger than the screen overhangs
/// both edges equally.
void centerWindow(QWidget* window);

/// Stores \a window's left and top edge, outer width and height in twips under Left, Top, Width and Height,
/// each only while the window is in the normal state (neither minimized, maximized nor full screen).
void saveWindowPosition(QWidget* window, SettingsStore& store);

/// Gives \a window and its option buttons, check boxes, frames and labels the system button-face colour.
void applyFaceColor(QWidget* window);

/// A modal box titled "Corvanta" (every box of the program that names no title of its own). Line breaks written
/// as CR LF or CR show as lines. Returns the button pressed.
QMessageBox::StandardButton showProgramMessage(QWidget* parent, const QString& text,
                                               QMessageBox::Icon icon = QMessageBox::NoIcon,
                                               QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                               QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);

/// The application error report box: title "Application Error", warning icon, OK.
void showApplicationErrorReport(QWidget* parent, const QString& text);

} // namespace corvanta
