// A stop asked for from another thread while a long join is in the middle of a phase: the join returns at once,
// says nothing more, hands nothing off and leaves no working folder behind.
#include "engine/join/joincommand.h"
#include "tests/support/recordinghost.h"
#include "tests/support/testfiles.h"

#include <QElapsedTimer>
#include <QTest>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stop_token>
#include <thread>

using namespace corvanta;

namespace {

#if defined(__SANITIZE_THREAD__)
constexpr int kElements = 60000; // ThreadSanitizer makes every step many times slower
#else
constexpr int kElements = 600000;
#endif

// How long a stopped join may take to return on a loaded machine; on an idle one it takes a few milliseconds.
constexpr qint64 kBoundMs = 2000;

/// A document with one top-level element holding \a count elements, named after \a prefix. A few thousand names:
/// libxml2's dictionary of one document slows down past some hundred thousand.
QByteArray largeDocument(const QByteArray& prefix, int count) {
    QByteArray xml = "<r>\n  <a>\n";
    xml.reserve(qsizetype(count) * 48);
    for (int i = 0; i < count; ++i) {
        const QByteArray name = prefix + QByteArray::number(i % 4096);
        xml += "    <" + name + " k=\"" + QByteArray::number(i) + "\">some text</" + name + ">\n";
    }
    return xml + "  </a>\n</r>\n";
}

/// Notes when input N starts to be merged ("merge N"), among the host's events.
class MergeWatch final : public JoinObserver {
public:
    explicit MergeWatch(RecordingHost& record)
        : m_record(record) {}
    void mergeInput(int index, const QString&) override { m_record.note(QStringLiteral("merge %1").arg(index)); }

private:
    RecordingHost& m_record;
};

/// Tells the waiting test thread when the join's thread records an event that begins with the trigger.
class Trigger {
public:
    Trigger(RecordingHost& record, QString trigger) {
        record.onEvent = [this, trigger = std::move(trigger)](const QString& event) {
            const std::lock_guard lock(m_mutex);
            if (!m_triggered && event.startsWith(trigger)) {
                m_triggered = true;
                m_wake.notify_all();
            }
        };
    }

    /// Waits until the trigger came or the join ended; true when the trigger came.
    bool wait() {
        std::unique_lock lock(m_mutex);
        m_wake.wait(lock, [&] { return m_triggered || m_ended; });
        return m_triggered;
    }
    void ended() {
        const std::lock_guard lock(m_mutex);
        m_ended = true;
        m_wake.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_triggered = false;
    bool m_ended = false;
};

} // namespace

class TestStopJoin : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        m_folders.renew();
        writeFile(m_folders.filePath("small.xml"), "<r>\n  <a>\n    <s/>\n  </a>\n</r>\n");
        writeFile(m_folders.filePath("large.xml"), largeDocument("e", kElements));
        writeFile(m_folders.filePath("other.xml"), largeDocument("f", kElements));
    }

    void stopDuringAPhaseEndsTheJoinAtOnce_data() {
        QTest::addColumn<QStringList>("inputs");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("wrapRoot");
        QTest::addColumn<QString>("trigger");
        QTest::addColumn<int>("delayMs"); // after the trigger, to be well inside the phase
        QTest::newRow("Merge, the first input read and parsed")
            << QStringList{"large", "small", "small"} << "merge" << QString() << "progress 33" << 30;
        QTest::newRow("Merge, waiting for the inputs parsed ahead")
            << QStringList{"small", "large", "other", "large"} << "merge" << QString() << "progress 50" << 30;
        QTest::newRow("Merge, merging what was written ahead")
            << QStringList{"large", "other", "other", "other"} << "merge" << QString() << "merge 2" << 0;
        QTest::newRow("Combine, the inputs written ahead")
            << QStringList{"large", "other", "large", "other"} << "combine" << QString() << "progress 50" << 30;
        const QStringList many(12, QStringLiteral("large"));
        QTest::newRow("Append, copying an input") << many << "append" << QString() << "progress 16" << 10;
        QTest::newRow("Append, copying a wrapped input") << many << "append"
                                                         << "all"
                                                         << "progress 16" << 10;
    }

    void stopDuringAPhaseEndsTheJoinAtOnce() {
        QFETCH(QStringList, inputs);
        QFETCH(QString, mode);
        QFETCH(QString, wrapRoot);
        QFETCH(QString, trigger);
        QFETCH(int, delayMs);
        QStringList items;
        for (const QString& input : inputs)
            items << m_folders.filePath(input + QStringLiteral(".xml"));
        RecordingHost record(items, mode == u"append");
        record.combine = mode == u"combine";
        record.wrapRoot = wrapRoot;
        MergeWatch merges(record);
        record.observer = &merges;
        Trigger phase(record, trigger);
        std::stop_source stop;
        QElapsedTimer sinceStop;
        std::thread join([&] {
            joinFiles(record, stop.get_token());
            phase.ended();
        });

        const bool triggered = phase.wait();
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        sinceStop.start();
        stop.request_stop();
        join.join();
        const qint64 took = sinceStop.elapsed();

        QVERIFY(triggered);
        QVERIFY2(took < kBoundMs, qPrintable(QStringLiteral("%1 ms").arg(took)));
        QVERIFY2(!record.resultsShown && record.messages().isEmpty(), qPrintable(record.events.join(u'|')));
        QCOMPARE(m_folders.tempEntries(), QStringList());
    }

private:
    TestFolders m_folders;
};

QTEST_GUILESS_MAIN(TestStopJoin)
#include "tst_stopjoin.moc"
