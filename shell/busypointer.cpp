#include "shell/busypointer.h"

#include <QWidget>

namespace corvanta {

BusyPointer::BusyPointer(QWidget& window)
    : m_window(window) {}

void BusyPointer::setBusy(bool busy) {
    if (busy) {
        if (m_holders++ == 0)
            m_window.setCursor(Qt::WaitCursor);
    } else if (m_holders > 0 && --m_holders == 0) {
        m_window.unsetCursor();
    }
}

BusyPointer::Hold::Hold(BusyPointer& pointer)
    : m_pointer(pointer) {
    m_pointer.setBusy(true);
}

BusyPointer::Hold::~Hold() {
    m_pointer.setBusy(false);
}

} // namespace corvanta
