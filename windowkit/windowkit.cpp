#include "windowkit/windowkit.h"

#include "engine/join/errorreport.h"
#include "windowkit/settingsstore.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPalette>
#include <QRadioButton>
#include <QScreen>
#include <QToolBar>
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

QFont calibri(double points) {
    QFont font(QStringLiteral("Calibri"));
    font.setPointSizeF(points);
    return font;
}

// Lives as a child of its window until the window's first own showing.
class FirstShowCentring : public QObject {
public:
    explicit FirstShowCentring(QWidget* window)
        : QObject(window) {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        // A spontaneous show is the desktop restoring the window, not the program showing it.
        if (event->type() == QEvent::Show && !event->spontaneous()) {
            centerWindow(static_cast<QWidget*>(watched));
            deleteLater();
            watched->removeEventFilter(this);
        }
        return false;
    }
};

} // namespace

QFont controlFont() {
    QFont font = calibri(11.25);
    font.setBold(true);
    return font;
}

QFont barFont() {
    return calibri(11);
}

QToolBar* buildStandardToolBar(QWidget* window, const QList<ToolBarAction>& buttons) {
    auto* bar = new QToolBar(QStringLiteral("Standard"), window);
    bar->setObjectName(QStringLiteral("Standard"));
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->setContextMenuPolicy(Qt::PreventContextMenu);
    bar->setFont(barFont());
    bar->setIconSize(QSize(48, 48));
    bar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    for (const ToolBarAction& button : buttons) {
        bar->addAction(button.action);
        button.action->setObjectName(button.name + QStringLiteral("Action"));
        QWidget* widget = bar->widgetForAction(button.action);
        widget->setObjectName(button.name + QStringLiteral("Button"));
        widget->setFixedWidth(button.width);
    }
    return bar;
}

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

void centerWhenFramed(QWidget* window) {
    new FirstShowCentring(window); // owned by the window
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
