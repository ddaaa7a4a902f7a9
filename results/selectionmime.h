#pragma once

#include "engine/text/textstore.h"

#include <QMimeData>
#include <QString>
#include <memory>

namespace corvanta {

/// A selection offered to other programs (the X11 primary selection) without copying it: the text is shared with
/// the view that holds it and only the selected part is cut out, when another program asks for it. It keeps the
/// text it was given, so it still answers with the old selection after the view's text is replaced.
class SelectionMimeData : public QMimeData {
    Q_OBJECT

public:
    /// Offers \a length characters of \a text from \a start, clamped to the text.
    SelectionMimeData(const QString& text, qsizetype start, qsizetype length);
    /// Offers \a length characters of the text in \a text from \a start, clamped to the text.
    SelectionMimeData(std::shared_ptr<const TextStore> text, qsizetype start, qsizetype length);

    QStringList formats() const override;
    bool hasFormat(const QString& mimeType) const override;

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override;

private:
    std::shared_ptr<const TextStore> m_text; // never null
    qsizetype m_start;
    qsizetype m_length;
};

} // namespace corvanta
