#include "windowkit.h"

#include "errorreport.h"
#include "settingsstore.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPalette>
#include <QRadioButton>
#include <QScreen>
#include <QWidget>
#include <cmath>

namespace corvanta {

namespace {

double logicalDpi() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->logicalDotsPerInchY() : 96.0;
}

QString programTitle() {
    return QStringLiteral("Corvanta");
}

} // namespace

int twipsToPixels(double twips) {
    return int(std::lround(twips * logicalDpi() / 1440.0));
}

double pixelsToTwips(int pixels) {
    return pixels * 1440.0 / logicalDpi();
}

void centerWindow(QWidget* window) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!window || !screen)
        return;
    const QRect available = screen->geometry();
    const QSize frame = window->frameGeometry().size();
    window->move(available.x() + (available.width() - frame.width()) / 2,
                 available.y() + (available.height() - frame.height()) / 2);
}

void saveWindowPosition(QWidget* window, SettingsStore& store) {
    if (window->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen))
        return;
    const QRect frame = window->frameGeometry();
    const auto twips = [](int pixels) { return int(std::lround(pixelsToTwips(pixels))); };
    store.write(settings::Left, twips(frame.x()));
    store.write(settings::Top, twips(frame.y()));
    store.write(settings::Width, twips(frame.width()));
    store.write(settings::Height, twips(frame.height()));
}

void applyFaceColor(QWidget* window) {
    const QColor face = QApplication::palette().color(QPalette::Button);
    auto paint = [&face](QWidget* widget) {
        QPalette palette = widget->palette();
        palette.setColor(QPalette::Window, face);
        widget->setPalette(palette);
        widget->setAutoFillBackground(true);
    };
    paint(window);
    const auto children = window->findChildren<QWidget*>();
    for (QWidget* child : children)
        if (qobject_cast<QRadioButton*>(child) || qobject_cast<QCheckBox*>(child) || qobject_cast<QGroupBox*>(child) ||
            qobject_cast<QLabel*>(child))
            paint(child);
}

QMessageBox::StandardButton showProgramMessage(QWidget* parent, const QString& text, QMessageBox::Icon icon,
                                               QMessageBox::StandardButtons buttons,
                                               QMessageBox::StandardButton defaultButton) {
    QMessageBox box(icon, programTitle(), displayLines(text), buttons, parent);
    if (defaultButton != QMessageBox::NoButton)
        box.setDefaultButton(defaultButton);
    return QMessageBox::StandardButton(box.exec());
}

void showApplicationErrorReport(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Application Error"), displayLines(text), QMessageBox::Ok,
                    parent);
    box.exec();
}

} // namespace corvanta
