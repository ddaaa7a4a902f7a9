#pragma once

#include "failure.h"

#include <QString>
#include <exception>
#include <functional>
#include <new>

namespace corvanta {

/// Runs numbered steps of a reporting procedure: a step that fails is reported with its number and the procedure
/// goes on with the next step, as the caller decides.
class StepRunner {
public:
    using Reporter = std::function<void(int step, const QString& description)>;

    explicit StepRunner(Reporter reporter)
        : m_reporter(std::move(reporter)) {}

    /// Runs \a body as step \a number; returns false when it failed (the failure has been reported).
    template <typename Body> bool step(int number, Body&& body) {
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
        try {
            return condition();
        } catch (...) {
            report(number, std::current_exception());
            return true;
        }
    }

private:
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
};

} // namespace corvanta
