#pragma once

#include <QMimeData>
#include <QString>

namespace corvanta {

/// A selection offered to other programs (the X11 primary selection) without copying it: the text is shared with
/// the view that holds it and only the selected part is cut out, when another program asks for it. It keeps the
/// text it was given, so it still answers with the old selection after the view's text is replaced.
class SelectionMimeData : public QMimeData {
    Q_OBJECT

public:
    /// Offers \a length characters of \a text from \a start, clamped to the text.
    SelectionMimeData(const QString& text, qsizetype start, qsizetype length);

    QStringList formats() const override;
    bool hasFormat(const QString& mimeType) const override;

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override;

private:
    QString m_text;
    qsizetype m_start;
    qsizetype m_length;
};

} // namespace corvanta
