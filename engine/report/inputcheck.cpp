#include "engine/report/inputcheck.h"

#include "engine/join/inputprefetcher.h"
#include "engine/join/skippedinput.h"
#include "engine/text/failure.h"
#include "engine/text/filepath.h"
#include "engine/text/jsontext.h"
#include "engine/text/textfile.h"
#include "engine/xml/recordednode.h"
#include "engine/xml/rootchildrenreader.h"
#include "engine/xml/xmldocument.h"
#include "engine/xml/xmlparser.h"

#include <QFile>
#include <QScopeGuard>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>

namespace corvanta {

namespace {

constexpr int kCheckThreads = 2;

InputCheck& markUnreadable(InputCheck& check, const QString& reason) {
    check.status = InputStatus::Unreadable;
    check.reason = reason;
    return check;
}

// Merge reads a missing file as empty text, which then fails to parse; the check says why there is no text.
QString missingReason(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QStringLiteral("No such file or directory") : file.errorString();
}

QString namespaceWords(const QString& ns) {
    return ns.isEmpty() ? QStringLiteral("no namespace") : QStringLiteral("namespace %1").arg(ns);
}

} // namespace

QString statusName(InputStatus status) {
    switch (status) {
    case InputStatus::Ok:
        return QStringLiteral("ok");
    case InputStatus::Unreadable:
        return QStringLiteral("unreadable");
    case InputStatus::NotWellFormed:
        return QStringLiteral("not-well-formed");
    case InputStatus::DifferentRoot:
        return QStringLiteral("different-root");
    case InputStatus::DifferentCount:
        return QStringLiteral("different-count");
    }
    return {};
}

QString InputCheck::statusLine() const {
    // A line per input: a line break or an escape sequence in a name must not reach the output raw.
    const QString shown = displayPath(path), shownFirst = displayPath(comparedWith);
    switch (status) {
    case InputStatus::Ok:
        return QStringLiteral("%1: ok (root %2, %3)").arg(shown, root, nodeCount(topLevelNodes));
    case InputStatus::Unreadable:
        return QStringLiteral("%1: cannot be read: %2").arg(shown, reason);
    case InputStatus::NotWellFormed:
        return QStringLiteral("%1: not well-formed at line %2, column %3: %4")
            .arg(shown, QString::number(line), QString::number(column), reason);
    case InputStatus::DifferentRoot:
        if (root == expectedRoot) // Combine: only the namespaces differ
            return QStringLiteral("%1: root %2 in %3, but %4 has root %5 in %6")
                .arg(shown, root, namespaceWords(rootNamespace), shownFirst, expectedRoot,
                     namespaceWords(expectedRootNamespace));
        return QStringLiteral("%1: root %2, but %3 has root %4").arg(shown, root, shownFirst, expectedRoot);
    case InputStatus::DifferentCount:
        return QStringLiteral("%1: %2, but %3 has %4")
            .arg(shown, nodeCount(topLevelNodes), shownFirst, QString::number(expectedTopLevelNodes));
    }
    return {};
}

void InputCheck::writeJsonMembers(JsonText& json, PathMember pathMember) const {
    // In the order of their names, as Qt's JSON classes wrote them first: scripts may have compared the text.
    const bool notWellFormed = status == InputStatus::NotWellFormed;
    const bool compared = status == InputStatus::DifferentRoot || status == InputStatus::DifferentCount;
    if (notWellFormed)
        json.key("column").number(column);
    if (compared)
        json.key("comparedWith").string(comparedWith);
    if (notWellFormed)
        json.key("line").number(line);
    if (pathMember == PathMember::Written)
        json.key("path").string(path);
    if (!wellFormed())
        json.key("reason").string(reason);
    if (wellFormed())
        json.key("root").string(root);
    json.key("status").string(statusName(status));
    if (wellFormed())
        json.key("topLevelNodes").number(topLevelNodes);
}

namespace {

void noteRoot(InputCheck& check, const xmlNode* root, qsizetype topLevelNodes) {
    check.root = QString::fromUtf8(baseName(root));
    check.topLevelNodes = topLevelNodes;
    if (root->ns && root->ns->href)
        check.rootNamespace = QString::fromUtf8(reinterpret_cast<const char*>(root->ns->href));
}

// Counts the root's children as parseXml() leaves them: blank text stays only beside text of the root's own.
class RootChildrenCount final : public RootChildrenSink {
public:
    bool begin(std::string_view, std::span<const NamespaceDeclaration>) override { return true; }
    bool wantsWholeNodes() const override { return false; }
    bool add(const RecordedNode& node) override {
        ++m_nodes;
        const bool blank = node.isBlankText();
        m_blanks += blank ? 1 : 0;
        m_text = m_text || (node.isTextLike() && !blank);
        return true;
    }
    qsizetype nodes() const { return m_text ? m_nodes : m_nodes - m_blanks; }

private:
    qsizetype m_nodes = 0;
    qsizetype m_blanks = 0;
    bool m_text = false; // a child is text other than blank, or CDATA
};

// The root's shape without its tree, block by block; false when only the tree can tell. Expat reads it first, as
// it reads several times faster; where only libxml2 can tell, libxml2 reads it again.
bool outlineInput(InputCheck& check, const std::stop_token& stop) {
    auto reader = std::make_unique<TextFileReader>(check.path, kStreamBlockSize, stop);
    if (!reader->exists()) {
        markUnreadable(check, missingReason(check.path));
        return true;
    }
    RootChildrenCount count;
    const TextOpener first = [&]() -> TextPieces { return [&] { return reader->nextPiece(); }; };
    if (const std::optional<ParsedXml> read = readRootChildren(first, check.path, stop, count); read && read->doc) {
        noteRoot(check, rootElement(read->doc.get()), count.nodes());
        return true;
    }
    reader = std::make_unique<TextFileReader>(check.path, kStreamBlockSize, stop);
    const XmlOutline outline = outlineXml([&] { return reader->nextPiece(); }, check.path, stop);
    switch (outline.result) {
    case XmlOutline::Result::NeedsTree:
        return false;
    case XmlOutline::Result::NotWellFormed:
        check.status = InputStatus::NotWellFormed;
        check.reason = outline.error.reason;
        check.line = outline.error.line;
        check.column = outline.error.column;
        return true;
    case XmlOutline::Result::Read:
        check.root = outline.root;
        check.topLevelNodes = outline.topLevelNodes;
        check.rootNamespace = outline.rootNamespace;
        return true;
    }
    return false;
}

// As examineInput(), but memory that runs out passes on as std::bad_alloc: for a check of the whole list, which
// it ends.
InputCheck examineOrRunOut(const QString& path, const std::stop_token& stop) {
    InputCheck check;
    check.path = path;
    try {
        if (outlineInput(check, stop))
            return check;
        // Read block by block as it is parsed, as a join reads it, never held whole.
        const PreparedInput input = InputPrefetcher::prepare(path, stop);
        if (input.reading == TextReading::Missing)
            return markUnreadable(check, missingReason(path));
        for (const std::exception_ptr& failure : {input.readFailure, input.parseFailure})
            if (failure)
                std::rethrow_exception(failure);
        const ParsedXml& parsed = input.parsed;
        const xmlNode* root = rootElement(parsed.doc.get());
        if (!root) {
            check.status = InputStatus::NotWellFormed;
            check.reason = parsed.error.reason;
            check.line = parsed.error.line;
            check.column = parsed.error.column;
            return check;
        }
        noteRoot(check, root, childCount(root));
    } catch (const StopRequested&) {
        // An input cut short by the stop is never handed on: what it holds does not matter.
    } catch (const Failure& failure) {
        markUnreadable(check, systemReason(failure.description(), path));
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& other) {
        markUnreadable(check, QString::fromLocal8Bit(other.what()));
    }
    return check;
}

} // namespace

InputCheck examineInput(const QString& path, const std::stop_token& stop) {
    try {
        return examineOrRunOut(path, stop);
    } catch (const std::bad_alloc&) {
        InputCheck check;
        check.path = path;
        return markUnreadable(check, QStringLiteral("Out of memory"));
    }
}

void compareWithFirst(InputCheck& input, const InputCheck& first, CheckFor checkFor) {
    if (!input.wellFormed())
        return;
    // Base names, compared exactly: "p:r" and "r" are the same root, "R" and "r" are not.
    if (input.root != first.root || (checkFor == CheckFor::Combine && input.rootNamespace != first.rootNamespace))
        input.status = InputStatus::DifferentRoot;
    else if (checkFor == CheckFor::Merge && input.topLevelNodes != first.topLevelNodes)
        input.status = InputStatus::DifferentCount;
    else
        return;
    input.comparedWith = first.path;
    input.expectedRoot = first.root;
    input.expectedTopLevelNodes = first.topLevelNodes;
    input.expectedRootNamespace = first.rootNamespace;
}

int ListCheck::problemCount() const {
    return int(std::count_if(inputs.begin(), inputs.end(),
                             [](const InputCheck& input) { return input.status != InputStatus::Ok; }));
}

bool ListCheck::mergeable() const {
    return !inputs.empty() && problemCount() == 0;
}

QString ListCheck::summary() const {
    const auto count = qsizetype(inputs.size());
    if (count == 0)
        return QStringLiteral("No files added.");
    const int problems = problemCount();
    const bool combine = checkFor == CheckFor::Combine;
    if (problems == 0) {
        const QString done = combine ? QStringLiteral("combined") : QStringLiteral("merged");
        return count == 1 ? QStringLiteral("The file can be %1.").arg(done)
                          : QStringLiteral("All %1 files can be %2.").arg(count).arg(done);
    }
    return QStringLiteral("%1 of %2 %3 would stop a %4.")
        .arg(problems)
        .arg(count)
        .arg(count == 1 ? QStringLiteral("file") : QStringLiteral("files"))
        .arg(combine ? QStringLiteral("Combine") : QStringLiteral("Merge"));
}

QByteArray ListCheck::toJson() const {
    JsonText json(JsonText::Layout::Indented);
    json.beginObject().key("inputs").beginArray();
    for (const InputCheck& input : inputs) {
        json.beginObject();
        input.writeJsonMembers(json);
        json.endObject();
    }
    json.endArray().key("mergeable").boolean(mergeable()).endObject();
    return json.text() + '\n';
}

ListCheck checkInputs(const QStringList& paths, const CheckProgress& progress, CheckFor checkFor,
                      const std::stop_token& stop) {
    const int count = int(paths.size());
    // Workers take the next unchecked input; the calling thread hands the results on in list order. Only the
    // small results wait here: each worker holds the blocks of one input at a time, and no tree but of a
    // document with a document type.
    std::vector<std::optional<InputCheck>> finished(static_cast<size_t>(count));
    std::mutex mutex;
    std::condition_variable_any finishedOne;
    std::exception_ptr ranOut; // under the mutex: memory ran out on a worker, which ends the check
    std::atomic<int> next{0};
    // The caller's stop, or the end of this call, ends the workers within their current input.
    std::stop_source halt;
    const std::stop_callback forward(stop, [&] { halt.request_stop(); });
    const auto work = [&, token = halt.get_token()] {
        try {
            for (int i = next++; i < count && !token.stop_requested(); i = next++) {
                InputCheck input = examineOrRunOut(paths.at(i), token);
                const std::lock_guard lock(mutex);
                finished[size_t(i)] = std::move(input);
                finishedOne.notify_one();
            }
        } catch (...) {
            // Never out of the thread, which would end the process: the calling thread throws it on.
            next = count;
            const std::lock_guard lock(mutex);
            ranOut = std::current_exception();
            finishedOne.notify_one();
        }
    };

    ListCheck result;
    result.checkFor = checkFor;
    result.inputs.reserve(size_t(count));
    std::vector<std::jthread> workers;
    // Declared after the workers, so it runs before they are joined: a failing caller does not wait for the rest.
    const auto stopWorkers = qScopeGuard([&] {
        next = count;
        halt.request_stop();
    });
    // As many inputs in flight as a Merge parses ahead at once.
    const int workerCount = std::clamp(QThread::idealThreadCount(), 1, std::min(std::max(count, 1), kCheckThreads));
    workers.reserve(size_t(workerCount));
    for (int w = 0; w < workerCount; ++w)
        workers.emplace_back(work);

    std::optional<size_t> first;
    for (int i = 0; i < count; ++i) {
        std::unique_lock lock(mutex);
        // An input cut short by the stop is never handed on.
        if (!finishedOne.wait(lock, stop, [&] { return finished[size_t(i)].has_value() || ranOut; }) ||
            stop.stop_requested())
            break;
        if (ranOut)
            std::rethrow_exception(ranOut);
        InputCheck input = std::move(*finished[size_t(i)]);
        lock.unlock();
        if (first)
            compareWithFirst(input, result.inputs[*first], checkFor);
        else if (input.wellFormed())
            first = result.inputs.size();
        result.inputs.push_back(std::move(input));
        if (progress)
            progress(i, result.inputs.back());
    }
    return result;
}

} // namespace corvanta
