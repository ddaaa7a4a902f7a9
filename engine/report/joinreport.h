#pragma once

#include "engine/join/joinobserver.h"
#include "engine/join/skippedinput.h"
#include "engine/report/inputcheck.h"

#include <QByteArray>
#include <optional>
#include <string>
#include <vector>

namespace corvanta {

/// What one join did, input by input, collected as the join tells it; the command line writes it as JSON and the
/// main window marks its list items from it. Collecting never changes the join.
class JoinReport final : public JoinObserver {
public:
    enum class Mode { Merge, Append, Combine };

    /// One top-level position of a merged input.
    struct Position {
        /// Base name of the base document's top-level node at this position.
        QString name;
        qint64 added = 0;
        qint64 skipped = 0;
        /// Base names of the skipped nodes, in document order (UTF-8).
        std::vector<std::string> skippedNames;
    };

    /// One listed input.
    struct Input {
        /// 1-based index in the list.
        int index = 0;
        QString path;
        /// Merge: the base document.
        bool base = false;
        /// Merge: what each top-level position of a merged input contributed.
        std::vector<Position> positions;
        /// Append: bytes added to the result, and how the file was read (empty when it could not be).
        qint64 bytes = 0;
        std::optional<TextReading> reading;
        /// Combine: top-level nodes added, and those left out as repeated.
        qint64 combinedAdded = 0;
        qint64 repeated = 0;
        /// Set on the input that stopped a Merge or Combine: its status as the check gives it.
        std::optional<InputCheck> stop;
        /// Set on an input that a Merge which kept going left out: why, as the check gives it.
        std::optional<InputCheck> leftOut;

        qint64 added() const;
        qint64 skipped() const;
    };

    /// \a unique: Combine leaves out repeated nodes, and the report says how many.
    explicit JoinReport(Mode mode, bool unique = false);

    /// Ends the report; \a completed when the join produced a result. A Merge that did not complete is examined
    /// further: a base document that does not parse is the input that stopped it, else the input the run stopped
    /// at; that input is read and parsed once more, as the check does, to find its status.
    void finish(bool completed);

    Mode mode() const { return m_mode; }
    bool completed() const { return m_completed; }
    /// The inputs the join reached, in list order; none after the one that stopped it.
    const std::vector<Input>& inputs() const { return m_inputs; }
    /// The input that stopped the join, or null.
    const Input* stoppedInput() const;
    /// What \a input contributed, in words ("12 nodes added, 3 already there"), or the status line of the input
    /// that stopped the join or was left out.
    QString contribution(const Input& input) const;
    /// True when \a input stopped the join, was left out, or gave an Append nothing because it is missing or
    /// unreadable.
    bool isProblem(const Input& input) const;

    /// The report as one JSON document, {"mode", "completed", "inputs": [...]}, ending with a line break.
    QByteArray toJson() const;

    void mergeBase(int index, const QString& path, const QString& root, const QStringList& topLevelNames) override;
    void mergeInput(int index, const QString& path) override;
    void nodeAdded(qsizetype position, std::string_view name) override;
    void nodeSkipped(qsizetype position, std::string_view name) override;
    void inputSkipped(const SkippedInput& skipped) override;
    void mergeStopped(int index, const QString& path) override;
    void appended(int index, const QString& path, qint64 bytes, std::optional<TextReading> reading) override;
    void combineBase(int index, const QString& path) override;
    void combined(int index, const QString& path, qint64 added, qint64 repeated) override;
    void combineStopped(int index, const QString& path) override;

private:
    Position* position(qsizetype index);

    void finishCombine();

    Mode m_mode;
    bool m_unique = false;
    bool m_completed = false;
    std::vector<Input> m_inputs;
    QString m_baseRoot;
    QStringList m_baseTopLevelNames;
    std::optional<Input> m_stoppedAt;
};

/// The name of \a reading in the report ("utf-8", "utf-16le", ...); "unreadable" for none.
QString readingName(std::optional<TextReading> reading);

} // namespace corvanta
