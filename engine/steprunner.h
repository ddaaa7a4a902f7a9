#pragma once

#include "failure.h"

#include <QString>
#include <exception>
#include <functional>
#include <new>
#include <stop_token>

namespace corvanta {

/// Thrown by a step or test of a StepRunner that was asked to stop; the procedure ends where it is.
struct StepsStopped {};

/// Runs numbered steps of a reporting procedure: a step that fails is reported with its number and the procedure
/// goes on with the next step, as the caller decides.
class StepRunner {
public:
    using Reporter = std::function<void(int step, const QString& description)>;

    /// Once \a stop is requested, the next step or test throws StepsStopped instead of running; the one running
    /// then ends first.
    explicit StepRunner(Reporter reporter, std::stop_token stop = {})
        : m_reporter(std::move(reporter))
        , m_stop(std::move(stop)) {}

    /// Runs \a body as step \a number; returns false when it failed (the failure has been reported).
    template <typename Body> bool step(int number, Body&& body) {
        stopWhenAsked();
        try {
            body();
            return true;
        } catch (...) {
            report(number, std::current_exception());
            return false;
        }
    }

    /// Evaluates the test of step \a number. A test that fails counts as held, so the steps it guards run.
    template <typename Test> bool test(int number, Test&& condition) {
        stopWhenAsked();
        try {
            return condition();
        } catch (...) {
            report(number, std::current_exception());
            return true;
        }
    }

private:
    // Outside the step's try block, so that no step reports the stop as its failure.
    void stopWhenAsked() const {
        if (m_stop.stop_requested())
            throw StepsStopped{};
    }

    void report(int number, const std::exception_ptr& error) {
        QString description;
        try {
            std::rethrow_exception(error);
        } catch (const Failure& failure) {
            description = failure.description();
        } catch (const std::bad_alloc&) {
            description = QStringLiteral("Out of memory");
        } catch (const std::exception& other) {
            description = QString::fromLocal8Bit(other.what());
        }
        m_reporter(number, description);
    }

    Reporter m_reporter;
    std::stop_token m_stop;
};

} // namespace corvanta
