#include "tests/support/modalhelper.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <deque>
#include <variant>

struct ModalAnswerer::State {
    using Answer = std::variant<QMessageBox::StandardButton, std::function<void(QFileDialog*)>>;
    std::deque<Answer> answers;
    QList<SeenBox> seen;
    QTimer timer;
    // Guarded and forgotten once hidden: the next box may sit at the same address, and a dialog may be shown again.
    QPointer<QWidget> lastHandled;

    void poll() {
        if (answers.empty())
            return;
        if (lastHandled && !lastHandled->isVisible())
            lastHandled = nullptr;
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal == lastHandled || !modal->isVisible())
            return;
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            auto* button = std::get_if<QMessageBox::StandardButton>(&answers.front());
            if (!button)
                return;
            SeenBox record;
            record.title = box->windowTitle();
            record.text = box->text();
            record.icon = box->icon();
            record.buttons = box->standardButtons();
            record.defaultButton =
                box->defaultButton() ? box->standardButton(box->defaultButton()) : QMessageBox::NoButton;
            seen << record;
            QAbstractButton* target = box->button(*button);
            answers.pop_front();
            lastHandled = modal;
            if (target)
                QTest::mouseClick(target, Qt::LeftButton);
            else
                box->reject();
        } else if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
            auto* action = std::get_if<std::function<void(QFileDialog*)>>(&answers.front());
            if (!action)
                return;
            auto handler = std::move(*action);
            answers.pop_front();
            lastHandled = modal;
            handler(dialog);
        }
    }
};

ModalAnswerer::ModalAnswerer()
    : m_state(std::make_shared<State>()) {
    m_state->timer.setInterval(10);
    QObject::connect(&m_state->timer, &QTimer::timeout, [state = m_state.get()] { state->poll(); });
    m_state->timer.start();
}

ModalAnswerer::~ModalAnswerer() = default;

void ModalAnswerer::answerMessage(QMessageBox::StandardButton button) {
    m_state->answers.emplace_back(button);
}

void ModalAnswerer::handleFileDialog(std::function<void(QFileDialog*)> action) {
    m_state->answers.emplace_back(std::move(action));
}

const QList<SeenBox>& ModalAnswerer::seen() const {
    return m_state->seen;
}

QStringList ModalAnswerer::texts() const {
    QStringList result;
    for (const SeenBox& box : m_state->seen)
        result << box.text;
    return result;
}

bool ModalAnswerer::allAnswered(int timeoutMs) const {
    if (QTest::qWaitFor([this] { return m_state->answers.empty(); }, timeoutMs))
        return true;
    QWidget* modal = QApplication::activeModalWidget();
    qWarning("unanswered: %d; modal widget: %s; active window: %s; focus: %s", int(m_state->answers.size()),
             modal ? modal->metaObject()->className() : "none",
             QApplication::activeWindow() ? qPrintable(QApplication::activeWindow()->objectName()) : "none",
             QApplication::focusWidget() ? qPrintable(QApplication::focusWidget()->objectName()) : "none");
    return false;
}
