#include "joinedtext.h"

#include "textfile.h"

namespace corvanta {

JoinedText JoinedText::fromFile(const QString& path) {
    JoinedText joined;
    joined.m_fileBytes = readTextFileBytes(path);
    return joined;
}

QString JoinedText::text() const {
    return decodeFileText(m_fileBytes);
}

QByteArray JoinedText::encoded() const {
    return encodeFileText(m_fileBytes);
}

} // namespace corvanta
