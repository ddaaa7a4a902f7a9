#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>
#include <memory>

class QFileDialog;

/// What a message box showed, read before it was answered.
struct SeenBox {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
};

/// Answers modal boxes that the code under test opens, as a person would: it waits for the active modal widget,
/// records what it shows and clicks a button. Arm it before the action that opens the box.
class ModalAnswerer {
public:
    ModalAnswerer();
    ~ModalAnswerer();

    /// Queues an answer for the next message box.
    void answerMessage(QMessageBox::StandardButton button);
    /// Queues an action for the next file dialog (for example: select files, then accept).
    void handleFileDialog(std::function<void(QFileDialog*)> action);

    /// Boxes seen so far, in order.
    const QList<SeenBox>& seen() const;
    /// Texts of the boxes seen so far.
    QStringList texts() const;
    /// True when every queued answer was used; on failure it prints what is on screen.
    bool allAnswered(int timeoutMs = 5000) const;

private:
    struct State;
    std::shared_ptr<State> m_state;
};
