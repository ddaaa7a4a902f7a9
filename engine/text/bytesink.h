#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <stop_token>

class QFileDevice;

namespace corvanta {

/// Where a text in the system code page goes, piece by piece, as it is read.
class ByteSink {
public:
    virtual ~ByteSink() = default;

    /// Takes \a bytes. Throws WriteFailure when they cannot be written.
    virtual void write(QByteArrayView bytes) = 0;
    /// Takes the rest of \a source, from its position to its end, as it is. Throws Failure when it cannot be read.
    virtual void writeRestOf(QFileDevice& source);
};

/// Collects what it is given in a byte array.
class ByteArraySink final : public ByteSink {
public:
    explicit ByteArraySink(QByteArray& bytes)
        : m_bytes(bytes) {}
    void write(QByteArrayView bytes) override { m_bytes.append(bytes); }

private:
    QByteArray& m_bytes;
};

/// Takes everything and keeps nothing.
class NullSink final : public ByteSink {
public:
    void write(QByteArrayView) override {}
};

/// Hands everything on to \a target until a stop is requested, then throws StopRequested instead: a long read
/// through it ends within a block of the request.
class StoppableSink final : public ByteSink {
public:
    StoppableSink(ByteSink& target, std::stop_token stop)
        : m_target(target)
        , m_stop(std::move(stop)) {}
    void write(QByteArrayView bytes) override;

private:
    ByteSink& m_target;
    std::stop_token m_stop;
};

/// Writes at the position of an open file (or standard output); the rest of another file goes by a copy in the
/// kernel where it can.
class FileSink final : public ByteSink {
public:
    /// \a file must stay open while the sink is used; \a name is what failures call it.
    FileSink(QFileDevice& file, QString name);

    void write(QByteArrayView bytes) override;
    void writeRestOf(QFileDevice& source) override;

private:
    [[noreturn]] void fail() const;

    QFileDevice& m_file;
    QString m_name;
};

/// Bytes read from or written to a file at a time: enough to make each call worth it, little enough to stay in the
/// processor's cache and keep memory use small.
inline constexpr qint64 kStreamBlockSize = qint64(256) * 1024;

} // namespace corvanta
