#include "engine/join/mergemode.h"

#include "engine/join/inputprefetcher.h"
#include "engine/join/skippedinput.h"
#include "engine/join/targetgate.h"
#include "engine/text/failure.h"
#include "engine/text/filepath.h"
#include "engine/text/textfile.h"
#include "engine/xml/mergeddocument.h"
#include "engine/xml/xmldocument.h"
#include "engine/xml/xmlparser.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <QFileInfo>
#include <QScopeGuard>
#include <algorithm>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvanta {

namespace {

/// What the structure check needs of the input before the current one, kept after its document is gone.
struct RootShape {
    QString path;
    bool hasRoot = false;
    std::string name;
    qsizetype childCount = 0;

    static RootShape of(const QString& path, const xmlDoc* doc) {
        const xmlNode* root = rootElement(doc);
        RootShape shape;
        shape.path = path;
        if (root) {
            shape.hasRoot = true;
            shape.name = baseName(root);
            shape.childCount = corvanta::childCount(root);
        }
        return shape;
    }
};

/// Throws the failure of a comparison that has no root on one side.
void requireRoots(const RootShape& previous, const RootShape& current) {
    for (const RootShape* shape : {&current, &previous})
        if (!shape->hasRoot)
            throw Failure(QStringLiteral("%1 has no root element to compare.").arg(displayPath(shape->path)));
}

class MergeRun {
public:
    MergeRun(JoinHost& host, StepRunner& steps)
        : m_host(host)
        , m_steps(steps)
        , m_observer(host.joinObserver()) {}

    MergeOutcome run(const QString& workingPath, int parseAhead, MergeParsing parsing) {
        // What is written ahead and the result's text go on in files beside the working file, not in memory.
        if (!workingPath.isEmpty())
            m_folder = QFileInfo(workingPath).absolutePath();
        // The hourglass and the progress bar as in Append mode, under the numbers of the steps they go with.
        m_steps.step(128, [&] { m_host.setBusyPointer(true); });
        int count = 0;
        m_steps.step(128, [&] { count = m_host.itemCount(); });
        m_steps.step(128, [&] { m_keepGoing = m_host.skipBadInputs(); });
        // The list is fixed while the join runs, so every path is known before the first input is read ahead.
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
        const bool leaveOut = parsing == MergeParsing::LeaveOutKnownNames;
        m_writers.resize(std::size_t(std::max(count, 0)));
        m_inputs.emplace(paths, parseAhead, leaveOut ? &m_names : nullptr,
                         leaveOut ? InputPrefetcher::TakerFor([this](qsizetype index, qsizetype textSize) {
                             return writerFor(index, textSize);
                         })
                                  : InputPrefetcher::TakerFor(),
                         m_steps.stopToken());
        // Written for the first document's top-level elements as their start tags are read, the inputs ahead are
        // never trees: as many may be in flight as once the first document is in.
        if (leaveOut && !m_keepGoing)
            m_inputs->setAheadBytes(InputPrefetcher::kWrittenAheadBytes);
        for (int i = 1; i <= count; ++i) {
            m_steps.step(130, [&] { m_host.setProgress(double(i) / count * 100.0); });
            // Before the base is in, the inputs ahead of it wait for it: no batch of them can come ready first.
            PreparedInput input = m_inputs->takeNext(!m_baseTaken);
            const QString& path = paths.at(i - 1);
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
            if (!parsed)
                m_steps.step(136,
                             [&] { m_host.showMessage(parseErrorMessage(path, current.error), JoinHost::Icon::None); });
            const RootShape shape = RootShape::of(path, current.doc.get());
            if (!m_baseTaken) {
                m_baseTaken = true;
                m_baseShape = InputShape{path, QString::fromStdString(shape.name), shape.childCount, {}};
                m_observer.mergeBase(i, path, QString::fromStdString(shape.name),
                                     childBaseNames(rootElement(current.doc.get())));
                m_steps.step(166, [&] {
                    m_base.emplace(std::move(current), m_names, m_firstWriter.get(), m_folder);
                    m_firstWriter.reset();
                    // The inputs ahead need not wait for the first document's children to be written.
                    if (leaveOut) {
                        publishWriteAheadTarget();
                        m_inputs->setAheadBytes(InputPrefetcher::kWrittenAheadBytes);
                    }
                    try {
                        m_base->writeFirstChildren(m_steps.stopToken());
                    } catch (...) {
                        m_base.reset(); // as if it never came
                        publishWriteAheadTarget();
                        throw;
                    }
                });
                // However the step ended, the inputs waiting for the base learn of it: without one they go on as
                // trees, rather than wait for ever.
                if (leaveOut)
                    publishWriteAheadTarget();
            } else if (sameStructure(shape)) {
                m_observer.mergeInput(i, path);
                mergeIntoBase(current, m_writers[std::size_t(i - 1)].get(), input.textSize, path);
                m_writers[std::size_t(i - 1)].reset();
                if (leaveOut)
                    publishWriteAheadTarget();
            } else {
                m_observer.mergeStopped(i, path);
                return stopOnDifference();
            }
            m_previous = shape;
            // A merged document is released here, at once; only the base document stays.
        }
        return finishJoinedInputs(m_host, m_steps, m_skipped, [&] {
            // Without a working file (step 104 said why) there is nothing to save to.
            if (m_base && !workingPath.isEmpty())
                m_base->save(workingPath, m_steps.stopToken());
        });
    }

private:
    // Keeping going: leaves input \a index out, without a word until the end, when it cannot be joined. The first
    // input that can is the base; the others are compared with it.
    bool leftOut(int index, const QString& path, const PreparedInput& input, const std::exception_ptr& pathFailure) {
        std::optional<SkippedInput> problem =
            pathFailure ? SkippedInput::unreadable(index, path, pathFailure)
                        : inputProblem(index, path, input, m_baseTaken ? &m_baseShape : nullptr, true);
        if (!problem)
            return false;
        // What was written of it ahead goes with it; but not after a stop, when takeNext() returns while a worker
        // may still be parsing with its writer. The slots go after the workers then.
        if (!m_steps.stopToken().stop_requested()) {
            m_writers[std::size_t(index - 1)].reset();
            if (index == 1)
                m_firstWriter.reset();
        }
        if (!m_baseTaken)
            m_gate.setCandidate(index); // the input after it, 0-based
        m_observer.inputSkipped(*problem);
        m_skipped.push_back(std::move(*problem));
        return true;
    }

    // Called on the thread that parses input index: for the first, the merging thread; for later ones a writer
    // once the first document is in, null before. What it throws but running out of memory is the input's failure.
    ElementTaker* writerFor(qsizetype index, qsizetype textSize) {
        try {
            if (index == 0) {
                // Without keeping going, the inputs ahead may write for the first document's top-level elements as
                // soon as their start tags are read: a first document that fails then stops the run, and what they
                // wrote goes unused. Kept going, another input might become the first document, so they wait.
                m_firstWriter = std::make_unique<FirstChildrenWriter>(
                    m_folder, m_keepGoing ? FirstChildrenWriter::Announce()
                                          : [this](std::shared_ptr<const WriteAheadTarget> target) {
                                                m_gate.publish(std::move(target));
                                            });
                return m_firstWriter.get();
            }
            // Each input's slot is written by the one thread that parses it, and read after the input is taken.
            std::unique_ptr<AheadWriter>& slot = m_writers.at(std::size_t(index));
            slot = std::make_unique<AheadWriter>(
                [this, index](qsizetype topIndex) {
                    return m_gate
                        .waitFor(index, [topIndex](const WriteAheadTarget& target) { return target.covers(topIndex); })
                        .target;
                },
                textSize, m_folder);
            return slot.get();
        } catch (const std::bad_alloc&) {
            return nullptr; // the input is then held as a tree
        }
    }

    void publishWriteAheadTarget() { m_gate.publish(m_base ? m_base->writeAheadTarget() : nullptr); }

    bool sameStructure(const RootShape& current) {
        bool differ = false;
        if (m_steps.test(142, [&] {
                requireRoots(m_previous, current);
                return current.name != m_previous.name;
            }))
            differ = true;
        if (m_steps.test(144, [&] {
                requireRoots(m_previous, current);
                return current.childCount != m_previous.childCount;
            }))
            differ = true;
        return !m_steps.test(146, [&] { return differ; });
    }

    MergeOutcome stopOnDifference() {
        m_gate.release();
        m_inputs->cancel(); // nothing after this input is ever reported
        m_steps.step(148, [&] { m_host.setBusyPointer(false); });
        m_steps.step(150, [&] { m_host.setProgress(0); });
        m_steps.step(152, [&] {
            m_host.showMessage(QStringLiteral("XML files do not have same structure, join aborted."),
                               JoinHost::Icon::None);
        });
        return MergeOutcome::Stopped;
    }

    void mergeIntoBase(const ParsedXml& current, AheadWriter* writer, qsizetype textSize, const QString& path) {
        if (!m_base)
            return;
        m_base->takeNodesFrom(textSize);
        // The elements the parser left out, each told where it stood among the named nodes, so that they are met
        // in document order: those it skipped stayed behind as surely as those found below, those written ahead
        // are appended or stay behind as a node would.
        auto leftOut = current.leftOut.begin();
        const auto takeLeftOut = [&](qsizetype j, qsizetype namedBefore, FailureTally* failures) {
            for (; leftOut != current.leftOut.end() &&
                   (leftOut->topIndex < j || (leftOut->topIndex == j && leftOut->namedBefore <= namedBefore));
                 ++leftOut) {
                if (leftOut->taken && writer)
                    mergeWritten(leftOut->topIndex, leftOut->name, *writer, failures);
                else
                    m_observer.nodeSkipped(leftOut->topIndex, leftOut->name);
            }
        };
        qsizetype j = 0;
        for (xmlNode* top = rootElement(current.doc.get())->children; top; top = top->next, ++j) {
            // Only an element has child nodes; an entity reference's children are its declaration.
            if (top->type != XML_ELEMENT_NODE)
                continue;
            qsizetype named = 0;
            // A step that fails for one node often fails for all its siblings (a first document whose top-level
            // node cannot hold children): one report per step and top-level node, saying how often.
            FailureTally failures;
            // The next sibling is taken before a node moves, so none is skipped or repeated.
            xmlNode* next = nullptr;
            for (xmlNode* candidate = top->children; candidate; candidate = next) {
                next = candidate->next;
                const std::string_view name = baseName(candidate);
                if (!name.empty())
                    takeLeftOut(j, named++, &failures);
                // A failing lookup counts as "not there": the node is appended.
                const bool stays =
                    name.empty() || !m_steps.test(162, &failures, [&] { return !m_base->nodeExists(j, name); });
                if (stays) {
                    if (!name.empty())
                        m_observer.nodeSkipped(j, name);
                    // A node that stays behind is freed at once, so that the next input, parsed meanwhile, reuses
                    // its memory. Its name lives in the document's dictionary, which outlives it.
                    xmlUnlinkNode(candidate);
                    xmlFreeNode(candidate);
                    continue;
                }
                std::string_view added;
                if (m_steps.step(164, &failures, [&] { added = m_base->append(j, candidate); }))
                    m_observer.nodeAdded(j, added);
            }
            takeLeftOut(j, named, &failures);
            m_steps.report(failures);
        }
        FailureTally failures;
        takeLeftOut(j, 0, &failures);
        m_steps.report(failures);
        for (const QString& entity : m_base->unresolvedEntities())
            m_steps.step(164, [&] {
                m_host.showMessage(QStringLiteral("%1 refers to the external entity \"%2\", which the first document "
                                                  "does not declare the same way. External entities are never read: "
                                                  "the moved nodes keep the reference \"&%2;\".")
                                       .arg(displayPath(path), entity),
                                   JoinHost::Icon::Warning);
            });
    }

    // Like a node of the tree: appended unless its name is there already.
    void mergeWritten(qsizetype j, std::string_view name, AheadWriter& writer, FailureTally* failures) {
        const bool stays = !m_steps.test(162, failures, [&] { return !m_base->nodeExists(j, name); });
        if (stays) {
            writer.dropNext();
            m_observer.nodeSkipped(j, name);
            return;
        }
        std::string_view added;
        if (m_steps.step(164, failures, [&] { added = m_base->appendWritten(j, name, writer); }))
            m_observer.nodeAdded(j, added);
    }

    JoinHost& m_host;
    StepRunner& m_steps;
    MergedNames m_names;
    JoinObserver& m_observer;
    std::optional<MergedDocument> m_base;
    // What the inputs ahead are written for; what it points to is immutable (see WriteAheadTarget).
    TargetGate<WriteAheadTarget> m_gate{m_steps.stopToken()};
    QString m_folder; // set before the threads start, read-only afterwards
    // By input, while it is ahead. Sized before the parsers start and never resized; slot i is written only by
    // the thread that parses input i, and read by the merging thread only after takeNext() handed input i over
    // (the prefetcher's lock orders the two).
    std::vector<std::unique_ptr<AheadWriter>> m_writers;
    std::unique_ptr<FirstChildrenWriter> m_firstWriter;
    RootShape m_previous;
    bool m_keepGoing = false;
    bool m_baseTaken = false;
    InputShape m_baseShape; // of the base document, once taken
    std::vector<SkippedInput> m_skipped;
    std::optional<InputPrefetcher> m_inputs; // its threads stop before the rest goes
    TargetGate<WriteAheadTarget>::Closer m_gateCloser{m_gate};
};

// The documents came as millions of small blocks that the C library keeps after they are freed; hand them back
// before the hand-off reads the whole result into memory once more.
void returnFreedMemory() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

} // namespace

MergeOutcome finishJoinedInputs(JoinHost& host, StepRunner& steps, const std::vector<SkippedInput>& skipped,
                                const std::function<void()>& save) {
    const bool saved = steps.step(170, save);
    steps.step(170, [&] { host.setBusyPointer(false); });
    steps.step(170, [&] { host.setProgress(0); });
    if (!skipped.empty())
        steps.step(170, [&] { host.showSkippedInputs(skipped); });
    return saved ? MergeOutcome::Saved : MergeOutcome::NotSaved;
}

QString parseErrorMessage(const QString& path, const XmlParseError& error) {
    return QStringLiteral("Error reading ") + displayPath(path) + QStringLiteral("\r\nerror:") + error.reason +
           QStringLiteral("\r\nLine:") + QString::number(error.line) + QStringLiteral("\r\nposition:") +
           QString::number(error.column);
}

void returnFreedMemoryToSystem() {
    returnFreedMemory();
}

MergeOutcome runMergeMode(JoinHost& host, StepRunner& steps, const QString& workingPath, int parseAhead,
                          MergeParsing parsing) {
    // Also when the run ends by an exception: a stop, or memory that ran out.
    const auto giveBack = qScopeGuard(&returnFreedMemory);
    return MergeRun(host, steps).run(workingPath, parseAhead, parsing);
}

} // namespace corvanta
