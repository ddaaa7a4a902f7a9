#pragma once

#include "engine/xml/xmlparser.h"

#include <QByteArray>
#include <QString>

namespace corvanta {

/// A first and a later text combined as Combine combines them.
struct CombinedTexts {
    /// What the parser said of each, "reason line:column " one after the other.
    QString errors;
    /// The saved document; empty when a text did not parse.
    QByteArray result;
    /// Whether the roots are the same element (Combine stops on two that are not).
    bool sameRoot = false;
};

/// Combines \a first and the text \a later gives (\a laterSize bytes long), their nodes read from the text by Expat
/// where it can when \a fromText, or always built by libxml2; the result is saved to \a path.
CombinedTexts combineTexts(const QByteArray& first, const TextOpener& later, qsizetype laterSize, bool fromText,
                           const QString& path);

} // namespace corvanta
