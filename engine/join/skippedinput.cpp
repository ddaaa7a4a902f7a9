#include "engine/join/skippedinput.h"

#include "engine/join/inputprefetcher.h"
#include "engine/text/failure.h"
#include "engine/xml/xmldocument.h"

#include <QFile>
#include <QStringList>
#include <new>

namespace corvanta {

namespace {

// How many lines the box at the end names; the list marks every one.
constexpr qsizetype kShownSkipped = 10;

QString failureReason(const std::exception_ptr& failure, const QString& path) {
    try {
        std::rethrow_exception(failure);
    } catch (const Failure& known) {
        return systemReason(known.description(), path);
    } catch (const std::bad_alloc&) {
        throw; // no fault of the input's: leaving it out would pass a join short of it for one that went through
    } catch (const std::exception& other) {
        return QString::fromLocal8Bit(other.what());
    } catch (...) {
    }
    return QStringLiteral("Unknown error");
}

QString namespaceWords(const QString& ns) {
    return ns.isEmpty() ? QStringLiteral("no namespace") : QStringLiteral("namespace %1").arg(ns);
}

} // namespace

QString nodeCount(qsizetype count) {
    return count == 1 ? QStringLiteral("1 top-level node") : QStringLiteral("%1 top-level nodes").arg(count);
}

QString systemReason(const QString& description, const QString& path) {
    const QString prefix = path + QStringLiteral(": ");
    return description.startsWith(prefix) ? description.mid(prefix.size()) : description;
}

QString SkippedInput::statusLine() const {
    switch (cause) {
    case SkipCause::Unreadable:
        return QStringLiteral("%1: cannot be read: %2").arg(path, reason);
    case SkipCause::NotWellFormed:
        return QStringLiteral("%1: not well-formed at line %2, column %3: %4")
            .arg(path)
            .arg(line)
            .arg(column)
            .arg(reason);
    case SkipCause::DifferentRoot:
        if (shape.root == base.root) // Combine: only the namespaces differ
            return QStringLiteral("%1: root %2 in %3, but %4 has root %5 in %6")
                .arg(path, shape.root, namespaceWords(shape.rootNamespace), base.path, base.root,
                     namespaceWords(base.rootNamespace));
        return QStringLiteral("%1: root %2, but %3 has root %4").arg(path, shape.root, base.path, base.root);
    case SkipCause::DifferentCount:
        return QStringLiteral("%1: %2, but %3 has %4")
            .arg(path, nodeCount(shape.topLevelNodes), base.path, QString::number(base.topLevelNodes));
    }
    return {};
}

SkippedInput SkippedInput::unreadable(int index, const QString& path, const std::exception_ptr& failure) {
    SkippedInput skipped;
    skipped.index = index;
    skipped.path = path;
    skipped.reason = failureReason(failure, path);
    return skipped;
}

InputShape inputShape(const QString& path, const PreparedInput& input) {
    const xmlNode* root = rootElement(input.parsed.doc.get());
    if (!root)
        return InputShape{path, {}, 0, {}};
    const QString ns =
        root->ns && root->ns->href ? QString::fromUtf8(reinterpret_cast<const char*>(root->ns->href)) : QString();
    return InputShape{path, QString::fromUtf8(baseName(root)), childCount(root), ns};
}

std::optional<SkippedInput> inputProblem(int index, const QString& path, const PreparedInput& input,
                                         const InputShape* base, bool compareCount) {
    if (input.readFailure)
        return SkippedInput::unreadable(index, path, input.readFailure);
    SkippedInput skipped;
    skipped.index = index;
    skipped.path = path;
    // A missing file is read as empty text, which does not parse: the reason is that there is no file.
    if (input.reading == TextReading::Missing) {
        QFile file(path);
        skipped.reason =
            file.open(QIODevice::ReadOnly) ? QStringLiteral("No such file or directory") : file.errorString();
        return skipped;
    }
    if (input.parseFailure)
        return SkippedInput::unreadable(index, path, input.parseFailure);
    if (!rootElement(input.parsed.doc.get())) {
        skipped.cause = SkipCause::NotWellFormed;
        skipped.reason = input.parsed.error.reason;
        skipped.line = input.parsed.error.line;
        skipped.column = input.parsed.error.column;
        return skipped;
    }
    if (!base)
        return std::nullopt;
    skipped.shape = inputShape(path, input);
    skipped.base = *base;
    // Base names, compared exactly, as the structure check of the join compares them.
    if (skipped.shape.root != base->root)
        skipped.cause = SkipCause::DifferentRoot;
    else if (compareCount && skipped.shape.topLevelNodes != base->topLevelNodes)
        skipped.cause = SkipCause::DifferentCount;
    else
        return std::nullopt;
    return skipped;
}

QString skippedInputsMessage(const std::vector<SkippedInput>& skipped) {
    const auto count = qsizetype(skipped.size());
    QStringList lines{count == 1 ? QStringLiteral("1 file could not be joined and was left out:")
                                 : QStringLiteral("%1 files could not be joined and were left out:").arg(count),
                      QString()};
    for (qsizetype i = 0; i < count && i < kShownSkipped; ++i)
        lines << skipped[size_t(i)].statusLine();
    if (count > kShownSkipped)
        lines << QStringLiteral("and %1 more").arg(count - kShownSkipped);
    return lines.join(QStringLiteral("\r\n"));
}

} // namespace corvanta
