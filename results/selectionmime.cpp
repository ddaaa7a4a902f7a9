#include "results/selectionmime.h"

#include <algorithm>

namespace corvanta {

namespace {

QString plainText() {
    return QStringLiteral("text/plain");
}

} // namespace

SelectionMimeData::SelectionMimeData(const QString& text, qsizetype start, qsizetype length)
    : SelectionMimeData(std::make_shared<const TextStore>(text), start, length) {}

SelectionMimeData::SelectionMimeData(std::shared_ptr<const TextStore> text, qsizetype start, qsizetype length)
    : m_text(text ? std::move(text) : std::make_shared<const TextStore>())
    , m_start(std::clamp<qsizetype>(start, 0, m_text->size()))
    , m_length(std::clamp<qsizetype>(length, 0, m_text->size() - m_start)) {}

QStringList SelectionMimeData::formats() const {
    return {plainText()};
}

bool SelectionMimeData::hasFormat(const QString& mimeType) const {
    return mimeType == plainText();
}

QVariant SelectionMimeData::retrieveData(const QString& mimeType, QMetaType) const {
    if (mimeType != plainText())
        return {};
    return m_text->mid(m_start, m_length);
}

} // namespace corvanta
