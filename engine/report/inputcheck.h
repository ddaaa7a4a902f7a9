#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <stop_token>
#include <vector>

namespace corvanta {

class JsonText;

/// Which join a check is for: Merge needs the same root and number of top-level nodes, Combine the same root
/// element, compared by local name and namespace.
enum class CheckFor { Merge, Combine };

/// How a Merge would find one input.
enum class InputStatus {
    Ok,
    Unreadable,     ///< the file is missing or cannot be read
    NotWellFormed,  ///< the text does not parse
    DifferentRoot,  ///< the root's base name differs from the first well-formed input's
    DifferentCount, ///< the root has another number of top-level nodes than the first well-formed input's
};

/// One input, read and parsed as Merge reads and parses it, and compared with the first well-formed input.
struct InputCheck {
    QString path;
    InputStatus status = InputStatus::Ok;
    /// Base name of the root and number of its child nodes; for well-formed inputs only.
    QString root;
    qsizetype topLevelNodes = 0;
    /// The namespace of the root element; empty for none.
    QString rootNamespace;
    /// The system's or libxml2's description, for Unreadable and NotWellFormed.
    QString reason;
    /// libxml2's 1-based position of the error, for NotWellFormed.
    int line = 0;
    int column = 0;
    /// The path of the first well-formed input, for DifferentRoot and DifferentCount, with its root's base name
    /// and number of top-level nodes.
    QString comparedWith;
    QString expectedRoot;
    qsizetype expectedTopLevelNodes = 0;
    QString expectedRootNamespace;

    bool wellFormed() const { return status != InputStatus::Unreadable && status != InputStatus::NotWellFormed; }
    /// "PATH: ok (root r, 3 top-level nodes)" or "PATH: " and what is wrong, in words.
    QString statusLine() const;
    /// Which members writeJsonMembers() writes.
    enum class PathMember { Written, Left };
    /// Writes the members of the JSON form into the open object of \a json: path (unless left), status and those
    /// of root, topLevelNodes, reason, line, column and comparedWith that apply.
    void writeJsonMembers(JsonText& json, PathMember pathMember = PathMember::Written) const;
};

/// The name of \a status in the JSON form ("ok", "unreadable", "not-well-formed", ...).
QString statusName(InputStatus status);

/// Reads and parses \a path exactly as Merge does, keeping only the root's shape; the status is Ok, Unreadable or
/// NotWellFormed. Holds no tree but of a document with a document type. Once \a stop is requested it ends at the
/// next block of text, and its answer means nothing. Never throws.
InputCheck examineInput(const QString& path, const std::stop_token& stop = {});

/// Compares the well-formed \a input with \a first, the first well-formed input of its list, as Merge's
/// structure check does (or Combine's root check); sets DifferentRoot or DifferentCount when they differ.
void compareWithFirst(InputCheck& input, const InputCheck& first, CheckFor checkFor = CheckFor::Merge);

/// The outcome of checking a whole list.
struct ListCheck {
    std::vector<InputCheck> inputs;
    CheckFor checkFor = CheckFor::Merge;

    /// Number of inputs that would stop a Merge.
    int problemCount() const;
    /// True when a Merge of the list would go through: at least one input, each of them Ok.
    bool mergeable() const;
    /// "All N files can be merged.", "K of N files would stop a Merge." or, for no inputs, "No files added."; for
    /// Combine "combined" and "a Combine".
    QString summary() const;
    /// {"inputs": [...], "mergeable": bool}, indented, with a line break at the end.
    QByteArray toJson() const;
};

/// Called with the 0-based list index of each input once it is checked and compared.
using CheckProgress = std::function<void(int index, const InputCheck& input)>;

/// Checks every input of \a paths, in list order, as examineInput() and compareWithFirst() do. The inputs are
/// read on two threads, as many as a Merge parses ahead, each holding the blocks of one input at a time; \a progress
/// runs on the calling thread, in list order. When \a progress throws, the workers stop within their current input
/// and the exception passes on. Once \a stop is requested the workers end within their current input, and only the
/// inputs handed to \a progress before are in the result. Memory that runs out ends the check with std::bad_alloc,
/// or std::system_error when a worker cannot start.
ListCheck checkInputs(const QStringList& paths, const CheckProgress& progress = {}, CheckFor checkFor = CheckFor::Merge,
                      const std::stop_token& stop = {});

} // namespace corvanta
