#include "engine/text/spillingtext.h"

#include "engine/text/failure.h"
#include "engine/text/splicedtext.h"

#include <QDir>
#include <algorithm>
#include <atomic>

namespace corvanta {

namespace {

constexpr qsizetype kReadBlock = qsizetype(1) << 20;

[[noreturn]] void failOn(const QFileDevice& file) {
    throw Failure(QStringLiteral("%1: %2").arg(file.fileName(), file.errorString()));
}

// Files kept open for texts they are spliced into count against the process's open files: past this many open
// at once, a spliced range is copied instead, and its file goes with its text.
constexpr int kMostOpenFiles = 128;
std::atomic<int> g_openFiles{0};

// A spill file that counts itself among the open ones while it is.
class CountedFile final : public QTemporaryFile {
public:
    using QTemporaryFile::QTemporaryFile;
    ~CountedFile() override {
        if (m_counted)
            g_openFiles.fetch_sub(1, std::memory_order_relaxed);
    }
    CountedFile(const CountedFile&) = delete;
    CountedFile& operator=(const CountedFile&) = delete;

    bool openCounted() {
        m_counted = open();
        if (m_counted)
            g_openFiles.fetch_add(1, std::memory_order_relaxed);
        return m_counted;
    }

private:
    bool m_counted = false;
};

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
        auto file = std::make_shared<CountedFile>(QDir(m_folder).filePath(QStringLiteral(".text-XXXXXX")));
        if (!file->openCounted()) {
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

void SpillingText::spliceInto(SplicedText& into, qsizetype& position, qsizetype length) {
    length = std::min(length, size() - position);
    if (length <= 0)
        return;
    const qsizetype inFile = std::min(length, m_fileSize - position);
    if (inFile > 0 && g_openFiles.load(std::memory_order_relaxed) <= kMostOpenFiles) {
        if (!m_file->flush())
            failOn(*m_file);
        into.append(m_file, position, inFile);
        position += inFile;
        length -= inFile;
    }
    read(position, length, [&into](QByteArrayView block) { into.append(block); });
}

} // namespace corvanta
