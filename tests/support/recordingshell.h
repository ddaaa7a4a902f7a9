#pragma once

#include "shell/shellopener.h"
#include "shell/startupdraw.h"

#include <QStringList>

/// Stands in for the desktop: records what the program asks it to open and opens nothing.
class RecordingShell final : public corvanta::ShellOpener {
public:
    void open(const QString& target) override { opened.append(target); }
    QStringList opened;
};

/// A start-up draw that always gives one number, counting how often it is asked.
class FixedDraw final : public corvanta::StartupDraw {
public:
    explicit FixedDraw(int number)
        : m_number(number) {}
    int draw() override {
        ++draws;
        return m_number;
    }
    int draws = 0;

private:
    int m_number;
};
