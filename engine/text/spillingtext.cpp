#include "engine/text/spillingtext.h"

#include "engine/text/failure.h"

#include <QDir>
#include <algorithm>

namespace corvanta {

namespace {

constexpr qsizetype kReadBlock = qsizetype(1) << 20;

[[noreturn]] void failOn(const QFileDevice& file) {
    throw Failure(QStringLiteral("%1: %2").arg(file.fileName(), file.errorString()));
}

} // namespace

SpillingText::SpillingText(QString folder, qsizetype memoryLimit)
    : m_folder(std::move(folder))
    , m_memoryLimit(memoryLimit) {}

SpillingText::~SpillingText() = default;
SpillingText::SpillingText(SpillingText&&) noexcept = default;
SpillingText& SpillingText::operator=(SpillingText&&) noexcept = default;

void SpillingText::append(QByteArrayView bytes) {
    m_memory.append(bytes);
    if (!m_folder.isEmpty() && !m_spillFailed && m_memory.size() >= m_memoryLimit)
        spill();
}

void SpillingText::spill() {
    if (!m_file) {
        auto file = std::make_unique<QTemporaryFile>(QDir(m_folder).filePath(QStringLiteral(".text-XXXXXX")));
        if (!file->open()) {
            m_spillFailed = true;
            return;
        }
        m_file = std::move(file);
    }
    // Reads seek elsewhere in between. What a failed write left in the file lies past m_fileSize: never read.
    if (!m_file->seek(m_fileSize) || m_file->write(m_memory) != m_memory.size()) {
        m_spillFailed = true;
        return;
    }
    m_fileSize += m_memory.size();
    m_memory.resize(0); // keeps its capacity for the next block
}

void SpillingText::read(qsizetype& position, qsizetype length, const std::function<void(QByteArrayView)>& sink) {
    length = std::min(length, size() - position);
    if (length <= 0)
        return;
    if (position < m_fileSize) {
        if (!m_file->flush() || !m_file->seek(position))
            failOn(*m_file);
        QByteArray block;
        for (qsizetype left = std::min(length, m_fileSize - position); left > 0;) {
            block.resize(std::min(left, kReadBlock));
            if (m_file->read(block.data(), block.size()) != block.size())
                failOn(*m_file);
            sink(block);
            position += block.size();
            length -= block.size();
            left -= block.size();
        }
    }
    if (length > 0) {
        sink(QByteArrayView(m_memory).sliced(position - m_fileSize, length));
        position += length;
    }
}

} // namespace corvanta
