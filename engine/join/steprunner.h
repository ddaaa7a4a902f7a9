#pragma once

#include "engine/text/failure.h"

#include <QString>
#include <exception>
#include <functional>
#include <new>
#include <stop_token>
#include <utility>
#include <vector>

namespace corvanta {

/// Thrown by a step or test of a StepRunner that was asked to stop; the procedure ends where it is.
struct StepsStopped {};

/// Failures held back while a step runs once per node: the first failure of each step, in the order they came,
/// and how many more times that step failed.
class FailureTally {
public:
    struct Entry {
        int step;
        QString description;
        qsizetype more;
    };

    void add(int step, const QString& description) {
        for (Entry& entry : m_entries)
            if (entry.step == step) {
                ++entry.more;
                return;
            }
        m_entries.push_back({step, description, 0});
    }

    /// Hands over the entries and starts afresh.
    std::vector<Entry> take() { return std::exchange(m_entries, {}); }

private:
    std::vector<Entry> m_entries;
};

/// What a step that runs out of memory does.
enum class OutOfMemory {
    Report, ///< is reported as any other failure, and the procedure goes on
    End,    ///< ends the procedure: std::bad_alloc passes out of the step or test to the caller
};

/// Runs numbered steps of a reporting procedure: a step that fails is reported with its number and the procedure
/// goes on with the next step, as the caller decides.
class StepRunner {
public:
    using Reporter = std::function<void(int step, const QString& description)>;
    /// Also told how many more times the same step failed, for failures held back in a FailureTally.
    using TallyReporter = std::function<void(int step, const QString& description, qsizetype moreFailures)>;

    /// Once \a stop is requested, the next step or test throws StepsStopped instead of running; the one running
    /// then ends first, and whatever it throws after the request (most often StopRequested, from a loop that heard
    /// the stop) ends the procedure the same way instead of being reported.
    explicit StepRunner(Reporter reporter, std::stop_token stop = {}, OutOfMemory outOfMemory = OutOfMemory::Report)
        : m_reporter([plain = std::move(reporter)](int step, const QString& description, qsizetype) {
            plain(step, description);
        })
        , m_stop(std::move(stop))
        , m_outOfMemory(outOfMemory) {}
    explicit StepRunner(TallyReporter reporter, std::stop_token stop = {},
                        OutOfMemory outOfMemory = OutOfMemory::Report)
        : m_reporter(std::move(reporter))
        , m_stop(std::move(stop))
        , m_outOfMemory(outOfMemory) {}

    /// Runs \a body as step \a number; returns false when it failed (the failure has been reported).
    template <typename Body> bool step(int number, Body&& body) { return step(number, nullptr, body); }

    /// As step(), but a failure goes to \a tally, to be reported by report(tally).
    template <typename Body> bool step(int number, FailureTally* tally, Body&& body) {
        stopWhenAsked();
        try {
            body();
            return true;
        } catch (...) {
            stopWhenAsked();
            fail(number, std::current_exception(), tally);
            return false;
        }
    }

    /// Evaluates the test of step \a number. A test that fails counts as held, so the steps it guards run.
    template <typename Test> bool test(int number, Test&& condition) { return test(number, nullptr, condition); }

    /// As test(), but a failure goes to \a tally.
    template <typename Test> bool test(int number, FailureTally* tally, Test&& condition) {
        stopWhenAsked();
        try {
            return condition();
        } catch (...) {
            stopWhenAsked();
            fail(number, std::current_exception(), tally);
            return true;
        }
    }

    /// The stop that ends the procedure, for the loops inside a step that must hear it too.
    const std::stop_token& stopToken() const { return m_stop; }

    /// Reports what \a tally holds, one report per step, and empties it.
    void report(FailureTally& tally) {
        for (const FailureTally::Entry& entry : tally.take())
            m_reporter(entry.step, entry.description, entry.more);
    }

private:
    // Outside the step's try block, so that no step reports the stop as its failure.
    void stopWhenAsked() const {
        if (m_stop.stop_requested())
            throw StepsStopped{};
    }

    void fail(int number, const std::exception_ptr& error, FailureTally* tally) {
        QString description;
        try {
            std::rethrow_exception(error);
        } catch (const Failure& failure) {
            description = failure.description();
        } catch (const std::bad_alloc&) {
            // Going on after it would run the next steps on what the failed one left half made.
            if (m_outOfMemory == OutOfMemory::End)
                throw;
            description = QStringLiteral("Out of memory");
        } catch (const std::exception& other) {
            description = QString::fromLocal8Bit(other.what());
        } catch (...) {
            // Anything else still ends as a report: escaping here, it would end the process.
            description = QStringLiteral("Unknown error.");
        }
        if (tally)
            tally->add(number, description);
        else
            m_reporter(number, description, 0);
    }

    TallyReporter m_reporter;
    std::stop_token m_stop;
    OutOfMemory m_outOfMemory;
};

} // namespace corvanta
