#pragma once

#include <QFont>
#include <QList>
#include <QMessageBox>
#include <QString>
#include <functional>

class QAction;
class QToolBar;
class QWidget;

namespace corvanta {

class SettingsStore;

/// Pixels for \a twips (1/1440 inch) at the primary screen's logical DPI.
int twipsToPixels(double twips);
/// Twips for \a pixels at the primary screen's logical DPI.
double pixelsToTwips(int pixels);

/// The font of the windows' controls: Calibri 11.25 pt, bold.
QFont controlFont();
/// The font of the menu and tool bars: Calibri 11 pt.
QFont barFont();

/// One button of a window's tool bar for \a action, which keeps its own text, icon, state and slot; the button
/// follows them. The action is named \a name + "Action" and its button \a name + "Button".
struct ToolBarAction {
    QAction* action;
    QString name;
    int width;
};

/// A window's tool bar "Standard": fixed in place, in the bar font, 48-pixel icons with the caption below, one
/// button of the given width for each of \a buttons in order. The caller places the bar.
QToolBar* buildStandardToolBar(QWidget* window, const QList<ToolBarAction>& buttons);

/// Centres \a window's frame on the primary screen, keeping its size; a window larger than the screen overhangs
/// both edges equally.
void centerWindow(QWidget* window);

/// Centres \a window again when it is first shown, once the desktop has given it its frame, whose size centerWindow
/// could only guess before; later showings leave the window where it is.
void centerWhenFramed(QWidget* window);

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
