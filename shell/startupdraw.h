#pragma once

#include <QRandomGenerator>

namespace corvanta {

/// The draw behind the occasional visit of the maker's main page at start-up.
class StartupDraw {
public:
    virtual ~StartupDraw() = default;
    /// A whole number from 1 to 100, each value equally likely.
    virtual int draw() = 0;
};

/// Draws from a generator seeded once when it is made.
class RandomStartupDraw final : public StartupDraw {
public:
    /// Seeded from the time of day, so that each start of the program draws afresh.
    RandomStartupDraw();
    /// Seeded with \a seed, for a repeatable series of draws.
    explicit RandomStartupDraw(quint32 seed);

    int draw() override;

private:
    QRandomGenerator m_generator;
};

} // namespace corvanta
