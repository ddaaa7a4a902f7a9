#include "engine/files/workingfile.h"

#include "engine/text/failure.h"
#include "engine/text/textfile.h"
#include "engine/xml/xmlwrap.h"

#include <optional>
#include <utility>

namespace corvanta {

namespace {

/// Writes to the working file until a write fails, then takes the rest without writing it, so that the input is
/// still read to its end and a read failure is still told. Without a file it writes nothing at all. A stop request
/// ends the input at once.
class GuardedSink final : public ByteSink {
public:
    GuardedSink(QFile* file, const std::stop_token& stop)
        : m_stop(stop) {
        if (file)
            m_sink.emplace(*file, file->fileName());
    }

    void write(QByteArrayView bytes) override {
        if (m_stop.stop_requested())
            throw StopRequested{};
        guard([&] { m_sink->write(bytes); });
    }

    const QString& error() const { return m_error; }

private:
    template <typename Write> void guard(Write&& write) {
        if (!m_sink || !m_error.isEmpty())
            return;
        try {
            write();
        } catch (const WriteFailure& failure) {
            m_error = failure.description();
        }
    }

    const std::stop_token& m_stop;
    std::optional<FileSink> m_sink;
    QString m_error;
};

/// Gathers small pieces into one write: a wrapped input comes as what is kept of its prolog, its body and a line
/// break, which would otherwise cost three writes where plain Append makes one.
class GatheringSink final : public ByteSink {
public:
    explicit GatheringSink(ByteSink& next)
        : m_next(next) {}

    void write(QByteArrayView bytes) override {
        if (m_gathered.size() + bytes.size() > kGatherLimit)
            flush();
        // A block of a large input goes on as it is: copying it here would cost more than the write it saves.
        if (bytes.size() > kGatherLimit)
            m_next.write(bytes);
        else
            m_gathered.append(bytes);
    }

    /// Hands on what was gathered; call it at the end.
    void flush() {
        if (!m_gathered.isEmpty())
            m_next.write(std::exchange(m_gathered, {}));
    }

private:
    static constexpr qsizetype kGatherLimit = qsizetype(64) * 1024;

    ByteSink& m_next;
    QByteArray m_gathered;
};

} // namespace

void WorkingFileAppender::requireInput(const TextFileReader& reader) {
    if (!reader.exists()) {
        m_lastReading = TextReading::Missing;
        reader.requireFile();
    }
}

bool WorkingFileAppender::open() {
    if (m_file.isOpen())
        return true;
    if (m_file.fileName().isEmpty()) {
        m_writeError = QStringLiteral("There is no working file.");
        return false;
    }
    // Not in append mode: the kernel copies into a file only at a position of its own.
    if (!m_file.open(QIODevice::ReadWrite | QIODevice::Unbuffered) || !m_file.seek(m_file.size())) {
        m_writeError = QStringLiteral("%1: %2").arg(m_file.fileName(), m_file.errorString());
        m_file.close();
        return false;
    }
    return true;
}

template <typename Body> void WorkingFileAppender::append(Body&& body) {
    m_lastAdded = 0;
    // Like the one-shot append it replaces: a working file that cannot be opened is tried again next time.
    const bool writable = open();
    const qint64 start = writable ? m_file.pos() : 0;
    GuardedSink sink(writable ? &m_file : nullptr, m_stop);
    auto finish = [&] {
        if (!writable)
            return; // the reason the file could not be opened stays
        m_writeError = sink.error();
        if (m_writeError.isEmpty())
            m_lastAdded = m_file.pos() - start;
        // Nothing of a failed input stays, so that the file still holds whole texts only.
        if (!m_writeError.isEmpty() && !(m_file.resize(start) && m_file.seek(start)))
            m_whole = false;
    };
    try {
        body(static_cast<ByteSink&>(sink));
    } catch (...) {
        finish();
        m_lastAdded = 0; // whatever the input gave before it failed is taken out again below
        if (writable && !(m_file.resize(start) && m_file.seek(start)))
            m_whole = false;
        throw;
    }
    finish();
}

void WorkingFileAppender::appendFile(const QString& input) {
    m_lastReading.reset();
    m_lastAdded = 0;
    TextFileReader reader(input, m_blockSize, m_stop);
    requireInput(reader);
    append([&](ByteSink& sink) { reader.writeTo(sink); });
    m_lastReading = reader.reading();
}

bool WorkingFileAppender::appendWrappedFile(const QString& input) {
    m_lastReading.reset();
    m_lastAdded = 0;
    TextFileReader reader(input, m_blockSize, m_stop);
    requireInput(reader);
    if (reader.isEmpty()) {
        m_lastReading = reader.reading();
        return false;
    }
    bool entities = false;
    append([&](ByteSink& sink) {
        GatheringSink gathered(sink);
        PrologStripper stripper(gathered);
        reader.writeTo(stripper);
        stripper.finish();
        gathered.write("\n");
        gathered.flush();
        entities = stripper.droppedEntityDeclarations();
    });
    m_lastReading = reader.reading();
    return entities;
}

void WorkingFileAppender::appendBytes(QByteArrayView bytes) {
    append([&](ByteSink& sink) { sink.write(bytes); });
}

} // namespace corvanta
