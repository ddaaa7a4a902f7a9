#include "shell/startupdraw.h"

#include <QTime>

namespace corvanta {

RandomStartupDraw::RandomStartupDraw()
    : RandomStartupDraw(static_cast<quint32>(QTime::currentTime().msecsSinceStartOfDay())) {}

RandomStartupDraw::RandomStartupDraw(quint32 seed)
    : m_generator(seed) {}

int RandomStartupDraw::draw() {
    return m_generator.bounded(1, 101);
}

} // namespace corvanta
