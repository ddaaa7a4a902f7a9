#include "engine/join/combinemode.h"

#include "engine/join/inputprefetcher.h"
#include "engine/join/skippedinput.h"
#include "engine/join/targetgate.h"
#include "engine/text/filepath.h"
#include "engine/xml/combineddocument.h"
#include "engine/xml/xmlparser.h"

#include <QFileInfo>
#include <QScopeGuard>
#include <algorithm>
#include <exception>
#include <memory>
#include <optional>
#include <vector>

namespace corvanta {

namespace {

QString namespaceOf(const xmlNode* element) {
    return element->ns && element->ns->href ? QString::fromUtf8(reinterpret_cast<const char*>(element->ns->href))
                                            : QString();
}

QString describeRoot(const xmlNode* root, bool withNamespace) {
    QString name = QStringLiteral("\"%1\"").arg(QString::fromUtf8(baseName(root)));
    if (!withNamespace)
        return name;
    const QString ns = namespaceOf(root);
    return ns.isEmpty() ? name + QStringLiteral(" in no namespace")
                        : name + QStringLiteral(" in namespace \"%1\"").arg(ns);
}

class CombineRun {
public:
    CombineRun(JoinHost& host, StepRunner& steps, bool unique)
        : m_host(host)
        , m_steps(steps)
        , m_observer(host.joinObserver())
        , m_unique(unique) {}

    MergeOutcome run(const QString& workingPath, int parseAhead) {
        // The texts written ahead and the result's go on in files beside the working file, not in memory.
        if (!workingPath.isEmpty())
            m_folder = QFileInfo(workingPath).absolutePath();
        m_steps.step(128, [&] { m_host.setBusyPointer(true); });
        int count = 0;
        m_steps.step(128, [&] { count = m_host.itemCount(); });
        m_steps.step(128, [&] { m_keepGoing = m_host.skipBadInputs(); });
        QStringList paths;
        std::vector<std::exception_ptr> pathFailures(size_t(std::max(count, 0)));
        for (int i = 1; i <= count; ++i) {
            try {
                paths << m_host.itemText(i);
            } catch (...) {
                paths << QString();
                pathFailures[size_t(i - 1)] = std::current_exception();
            }
        }
        m_writers.resize(std::size_t(std::max(count, 0)));
        m_inputs.emplace(
            paths, parseAhead, nullptr,
            [this](qsizetype index, qsizetype textSize) { return writerFor(index, textSize); }, m_steps.stopToken());
        // Written for the first document's root as soon as it is read, the inputs ahead are never trees: as many may
        // be in flight as once the first document is in.
        if (!m_keepGoing)
            m_inputs->setAheadBytes(InputPrefetcher::kWrittenAheadBytes);
        for (int i = 1; i <= count; ++i) {
            m_steps.step(130, [&] { m_host.setProgress(double(i) / count * 100.0); });
            // Before the base is in, the inputs ahead of it wait for it: no batch of them can come ready first.
            PreparedInput input = m_inputs->takeNext(!m_base);
            const QString& path = paths.at(i - 1);
            // The writer stays in its slot while the input may be in use: after a stop, takeNext() returns while a
            // worker may still be parsing with it, and the slots go only after the workers. The input before this
            // one is done with, and what was written of it goes now.
            if (i >= 2)
                m_writers[std::size_t(i - 2)].reset();
            RootChildrenWriter* writer = m_writers[std::size_t(i - 1)].get();
            if (m_keepGoing && leftOut(i, path, input, pathFailures[size_t(i - 1)]))
                continue;
            m_steps.step(132, [&] {
                for (const std::exception_ptr& failure : {pathFailures[size_t(i - 1)], input.readFailure})
                    if (failure)
                        std::rethrow_exception(failure);
            });
            ParsedXml& current = input.parsed;
            const bool parsed = m_steps.test(134, [&] {
                if (input.parseFailure)
                    std::rethrow_exception(input.parseFailure);
                return bool(current.doc);
            });
            if (!parsed) {
                m_steps.step(136,
                             [&] { m_host.showMessage(parseErrorMessage(path, current.error), JoinHost::Icon::None); });
                return stop(i, path, QString());
            }
            // The first input that parses is the base; without keeping going an input that does not stops the run
            // before it.
            if (!m_base) {
                m_baseShape = inputShape(path, input);
                m_observer.combineBase(i, path);
                const bool based = m_steps.step(166, [&] {
                    m_base.emplace(std::move(current), writer, m_unique, m_folder);
                    m_basePath = path;
                    publishTarget();
                    m_inputs->setAheadBytes(InputPrefetcher::kWrittenAheadBytes);
                    // The result goes to its file as the inputs come, while the next ones are parsed.
                    if (!workingPath.isEmpty())
                        m_base->beginSave(workingPath, m_steps.stopToken());
                });
                if (!based)
                    return stop(i, path, QString());
                continue;
            }
            xmlNode* root = rootElement(current.doc.get());
            if (!m_steps.test(142, [&] { return sameRootElement(m_base->root(), root); }))
                return stop(i, path, differentRootMessage(m_basePath, m_base->root(), path, root));
            CombinedDocument::Added added;
            const bool done =
                m_steps.step(164, [&] { added = m_base->add(writer, root, input.textSize, m_steps.stopToken()); });
            if (done)
                m_observer.combined(i, path, added.added, added.repeated);
            for (const QString& entity : m_base->unresolvedEntities())
                m_steps.step(164, [&] {
                    m_host.showMessage(
                        QStringLiteral("%1 refers to the external entity \"%2\", which the first document does not "
                                       "declare the same way. External entities are never read: the moved nodes "
                                       "keep the reference \"&%2;\".")
                            .arg(displayPath(path), entity),
                        JoinHost::Icon::Warning);
                });
            publishTarget();
            // The input's document and what was written ahead of it go here, at once.
        }
        return finishJoinedInputs(m_host, m_steps, m_skipped, [&] {
            if (m_base && !workingPath.isEmpty())
                m_base->save(workingPath, m_steps.stopToken());
        });
    }

private:
    // Keeping going: leaves input \a index out, without a word until the end, when it cannot be joined. The first
    // input that can is the base; the others must have its root.
    bool leftOut(int index, const QString& path, const PreparedInput& input, const std::exception_ptr& pathFailure) {
        std::optional<SkippedInput> problem = pathFailure ? SkippedInput::unreadable(index, path, pathFailure)
                                                          : inputProblem(index, path, input, nullptr, false);
        if (!problem && m_base) {
            const xmlNode* root = rootElement(input.parsed.doc.get());
            if (!sameRootElement(m_base->root(), root)) {
                problem.emplace();
                problem->index = index;
                problem->path = path;
                problem->cause = SkipCause::DifferentRoot;
                problem->shape = inputShape(path, input);
                problem->base = m_baseShape;
            }
        }
        if (!problem)
            return false;
        if (!m_base)
            m_gate.setCandidate(index); // the input after it, 0-based
        m_observer.inputSkipped(*problem);
        m_skipped.push_back(std::move(*problem));
        return true;
    }

    // Called on the thread that parses input index. The slot is written by that one thread, and read once the
    // input is taken.
    ElementTaker* writerFor(qsizetype index, qsizetype textSize) {
        try {
            std::unique_ptr<RootChildrenWriter>& slot = m_writers.at(std::size_t(index));
            if (index == 0)
                // Without keeping going, the inputs ahead may write for the first document's root as soon as it is
                // read: a first document that fails then stops the run, and what they wrote goes unused. Kept going,
                // another input might become the first document, so they wait for it.
                slot = std::make_unique<RootChildrenWriter>(
                    m_unique, m_folder,
                    m_keepGoing ? RootChildrenWriter::Announce() : [this](std::shared_ptr<const CombineTarget> target) {
                        m_gate.publish(std::move(target));
                    });
            else
                slot = std::make_unique<RootChildrenWriter>(
                    [this, index]() -> RootChildrenWriter::Role {
                        // The input that is to be the base is written as a first input is.
                        const auto answer = m_gate.waitFor(index);
                        return {answer.target, answer.candidate};
                    },
                    textSize, m_unique, m_folder);
            return slot.get();
        } catch (const std::bad_alloc&) {
            return nullptr; // the input is then held as a tree
        }
    }

    void publishTarget() { m_gate.publish(m_base ? m_base->target() : nullptr); }

    MergeOutcome stop(int index, const QString& path, const QString& message) {
        m_gate.release();
        m_inputs->cancel(); // nothing after this input is ever reported
        m_observer.combineStopped(index, path);
        m_steps.step(148, [&] { m_host.setBusyPointer(false); });
        m_steps.step(150, [&] { m_host.setProgress(0); });
        if (!message.isEmpty())
            m_steps.step(152, [&] { m_host.showMessage(message, JoinHost::Icon::None); });
        return MergeOutcome::Stopped;
    }

    JoinHost& m_host;
    StepRunner& m_steps;
    JoinObserver& m_observer;
    const bool m_unique;
    QString m_folder; // set before the threads start, read-only afterwards
    std::optional<CombinedDocument> m_base;
    QString m_basePath;
    TargetGate<CombineTarget> m_gate{m_steps.stopToken()}; // what the inputs ahead are written for
    bool m_keepGoing = false;
    InputShape m_baseShape; // of the base, once taken
    std::vector<SkippedInput> m_skipped;
    std::vector<std::unique_ptr<RootChildrenWriter>> m_writers; // by input, while it is ahead
    std::optional<InputPrefetcher> m_inputs;                    // its threads stop before the rest goes
    TargetGate<CombineTarget>::Closer m_gateCloser{m_gate};
};

} // namespace

bool sameRootElement(const xmlNode* a, const xmlNode* b) {
    return a && b && baseName(a) == baseName(b) && namespaceOf(a) == namespaceOf(b);
}

QString differentRootMessage(const QString& firstPath, const xmlNode* first, const QString& laterPath,
                             const xmlNode* later) {
    const bool withNamespace = baseName(first) == baseName(later);
    return QStringLiteral("The root element of %1 is %2, but that of %3 is %4: files are combined only under the "
                          "same root element. Join aborted.")
        .arg(firstPath, describeRoot(first, withNamespace), laterPath, describeRoot(later, withNamespace));
}

MergeOutcome runCombineMode(JoinHost& host, StepRunner& steps, const QString& workingPath, bool unique,
                            int parseAhead) {
    // Also when the run ends by an exception: a stop, or memory that ran out.
    const auto giveBack = qScopeGuard(&returnFreedMemoryToSystem);
    return CombineRun(host, steps, unique).run(workingPath, parseAhead);
}

} // namespace corvanta
