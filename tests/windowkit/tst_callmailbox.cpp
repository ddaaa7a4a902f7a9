#include "windowkit/callmailbox.h"

#include <QEventLoop>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <memory>
#include <thread>
#include <vector>

using namespace corvanta;

class TestCallMailbox : public QObject {
    Q_OBJECT

private slots:
    // Under ThreadSanitizer this is the real check: each call carries values written on its own thread, which a
    // hand-off the sanitizer cannot see would show as races.
    void callsFromManyThreadsRunHereInEachThreadsOrder() {
        constexpr int threadCount = 4;
        constexpr int callsEach = 500;
        CallMailbox mailbox;
        std::vector<std::vector<int>> seen(threadCount); // written on this thread only, by the calls
        {
            std::vector<std::jthread> threads;
            for (int t = 0; t < threadCount; ++t) {
                threads.emplace_back([&mailbox, &seen, t] {
                    for (int i = 0; i < callsEach; ++i) {
                        auto payload = std::make_unique<std::vector<int>>(3, i);
                        mailbox.post([&seen, t, payload = std::shared_ptr(std::move(payload))] {
                            QVERIFY(QThread::currentThread() == qApp->thread());
                            seen[t].push_back(payload->at(2));
                        });
                    }
                });
            }
        }
        QTRY_VERIFY_WITH_TIMEOUT(
            std::all_of(seen.begin(), seen.end(), [](const auto& calls) { return calls.size() == callsEach; }), 10000);
        for (const std::vector<int>& calls : seen)
            QVERIFY(std::is_sorted(calls.begin(), calls.end()));
    }

    void aCallThatWaitsInAnEventLoopKeepsTheNextOneBehindIt() {
        CallMailbox mailbox;
        QStringList order;
        mailbox.post([&] {
            order << QStringLiteral("first begins");
            QEventLoop loop; // as a modal box does
            QTimer::singleShot(50, &loop, &QEventLoop::quit);
            loop.exec();
            order << QStringLiteral("first ends");
        });
        mailbox.post([&] { order << QStringLiteral("second"); });
        QTRY_COMPARE(order.size(), 3);
        QCOMPARE(order, QStringList({"first begins", "first ends", "second"}));
    }
};

QTEST_MAIN(TestCallMailbox)
#include "tst_callmailbox.moc"
