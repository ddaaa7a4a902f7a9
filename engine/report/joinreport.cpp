#include "engine/report/joinreport.h"

#include "engine/text/jsontext.h"

#include <algorithm>
#include <utility>

namespace corvanta {

namespace {

QString countOf(qint64 count, const char* one, const char* many) {
    return count == 1 ? QString::fromLatin1(one) : QStringLiteral("%1 %2").arg(count).arg(QLatin1String(many));
}

void writePosition(JsonText& json, const JoinReport::Position& position, qsizetype index) {
    json.beginObject();
    json.key("position").number(index + 1);
    json.key("name").string(position.name);
    json.key("added").number(position.added);
    json.key("skipped").number(position.skipped);
    json.key("skippedNames").beginArray();
    for (const std::string& name : position.skippedNames)
        json.string(name);
    json.endArray().endObject();
}

void writeInput(JsonText& json, const JoinReport::Input& input, JoinReport::Mode mode, bool unique) {
    json.beginObject().key("path").string(input.path);
    if (mode == JoinReport::Mode::Combine) {
        if (input.base)
            json.key("role").string("base");
        if (input.leftOut) {
            json.key("role").string("skipped");
            input.leftOut->writeJsonMembers(json, InputCheck::PathMember::Left);
        } else if (input.stop) {
            input.stop->writeJsonMembers(json, InputCheck::PathMember::Left);
        } else if (!input.base) {
            json.key("added").number(input.combinedAdded);
            if (unique)
                json.key("repeated").number(input.repeated);
        }
    } else if (mode == JoinReport::Mode::Append) {
        json.key("bytes").number(input.bytes);
        json.key("read").string(readingName(input.reading));
    } else {
        if (input.base)
            json.key("role").string("base");
        if (input.leftOut) {
            json.key("role").string("skipped");
            input.leftOut->writeJsonMembers(json, InputCheck::PathMember::Left);
        } else if (input.stop) {
            input.stop->writeJsonMembers(json, InputCheck::PathMember::Left);
        } else if (!input.base) {
            json.key("added").number(input.added());
            json.key("skipped").number(input.skipped());
            json.key("positions").beginArray();
            for (size_t i = 0; i < input.positions.size(); ++i)
                writePosition(json, input.positions[i], qsizetype(i));
            json.endArray();
        }
    }
    json.endObject();
}

QString appendContribution(const JoinReport::Input& input) {
    if (!input.reading)
        return QStringLiteral("Could not be read: nothing added");
    QString encoding;
    switch (*input.reading) {
    case TextReading::Missing:
        return QStringLiteral("Missing: nothing added");
    case TextReading::Empty:
        return QStringLiteral("Empty: the words \"empty file\" added");
    case TextReading::Utf8:
        encoding = QStringLiteral("UTF-8");
        break;
    case TextReading::Utf16LE:
        encoding = QStringLiteral("UTF-16 little-endian");
        break;
    case TextReading::Utf16BE:
        encoding = QStringLiteral("UTF-16 big-endian");
        break;
    case TextReading::Utf32LE:
        encoding = QStringLiteral("UTF-32 little-endian");
        break;
    case TextReading::Utf32BE:
        encoding = QStringLiteral("UTF-32 big-endian");
        break;
    case TextReading::Windows1252:
        encoding = QStringLiteral("UTF-8 with Windows-1252 bytes");
        break;
    case TextReading::Declared:
        encoding = QStringLiteral("the encoding its XML declaration names");
        break;
    }
    return QStringLiteral("%1 added, read as %2").arg(countOf(input.bytes, "1 byte", "bytes"), encoding);
}

JoinReport::Input listed(int index, const QString& path) {
    JoinReport::Input input;
    input.index = index;
    input.path = path;
    return input;
}

} // namespace

QString readingName(std::optional<TextReading> reading) {
    if (!reading)
        return QStringLiteral("unreadable");
    switch (*reading) {
    case TextReading::Utf8:
        return QStringLiteral("utf-8");
    case TextReading::Utf16LE:
        return QStringLiteral("utf-16le");
    case TextReading::Utf16BE:
        return QStringLiteral("utf-16be");
    case TextReading::Utf32LE:
        return QStringLiteral("utf-32le");
    case TextReading::Utf32BE:
        return QStringLiteral("utf-32be");
    case TextReading::Windows1252:
        return QStringLiteral("windows-1252");
    case TextReading::Declared:
        return QStringLiteral("declared");
    case TextReading::Empty:
        return QStringLiteral("empty");
    case TextReading::Missing:
        return QStringLiteral("missing");
    }
    return {};
}

qint64 JoinReport::Input::added() const {
    qint64 sum = 0;
    for (const Position& position : positions)
        sum += position.added;
    return sum;
}

qint64 JoinReport::Input::skipped() const {
    qint64 sum = 0;
    for (const Position& position : positions)
        sum += position.skipped;
    return sum;
}

QString JoinReport::contribution(const Input& input) const {
    if (input.stop)
        return input.stop->statusLine();
    if (input.leftOut)
        return input.leftOut->statusLine();
    if (m_mode == Mode::Append)
        return appendContribution(input);
    if (m_mode == Mode::Combine) {
        if (input.base)
            return QStringLiteral("Base document: the other files' nodes were added under its root");
        const QString added = QStringLiteral("%1 added").arg(countOf(input.combinedAdded, "1 node", "nodes"));
        return m_unique ? QStringLiteral("%1, %2 repeated left out").arg(added).arg(input.repeated) : added;
    }
    if (input.base)
        return QStringLiteral("Base document: the other files were merged into it");
    return QStringLiteral("%1 added, %2 already there")
        .arg(countOf(input.added(), "1 node", "nodes"))
        .arg(input.skipped());
}

bool JoinReport::isProblem(const Input& input) const {
    return input.stop || input.leftOut ||
           (m_mode == Mode::Append && (!input.reading || *input.reading == TextReading::Missing));
}

JoinReport::JoinReport(Mode mode, bool unique)
    : m_mode(mode)
    , m_unique(unique) {}

void JoinReport::finish(bool completed) {
    m_completed = completed;
    if (m_mode == Mode::Combine) {
        if (!completed)
            finishCombine();
        return;
    }
    // Inputs left out come before the base when the first ones could not be used.
    const auto baseAt = std::find_if(m_inputs.begin(), m_inputs.end(), [](const Input& input) { return input.base; });
    if (completed || m_mode != Mode::Merge || baseAt == m_inputs.end())
        return;
    Input& base = *baseAt;
    if (m_baseRoot.isEmpty()) {
        // Merge goes on past a base that does not parse and stops at the next input, whose own text may be fine.
        const InputCheck check = examineInput(base.path);
        if (!check.wellFormed()) {
            base.stop = check;
            m_inputs.erase(baseAt + 1, m_inputs.end());
        }
        return;
    }
    if (!m_stoppedAt)
        return;
    InputCheck first;
    first.path = base.path;
    first.root = m_baseRoot;
    first.topLevelNodes = m_baseTopLevelNames.size();
    m_stoppedAt->stop = examineInput(m_stoppedAt->path);
    compareWithFirst(*m_stoppedAt->stop, first);
    m_inputs.push_back(*std::exchange(m_stoppedAt, std::nullopt));
}

// The input the run stopped at is read and parsed once more, as the check does, to find its status: one that does
// not parse, or whose root differs from the base's.
void JoinReport::finishCombine() {
    if (!m_stoppedAt)
        return;
    m_stoppedAt->stop = examineInput(m_stoppedAt->path);
    const auto base = std::find_if(m_inputs.begin(), m_inputs.end(), [](const Input& input) { return input.base; });
    if (base != m_inputs.end())
        compareWithFirst(*m_stoppedAt->stop, examineInput(base->path), CheckFor::Combine);
    m_inputs.push_back(*std::exchange(m_stoppedAt, std::nullopt));
}

const JoinReport::Input* JoinReport::stoppedInput() const {
    for (const Input& input : m_inputs)
        if (input.stop)
            return &input;
    return nullptr;
}

QByteArray JoinReport::toJson() const {
    JsonText json;
    json.beginObject();
    json.key("mode").string(m_mode == Mode::Merge ? "merge" : m_mode == Mode::Append ? "append" : "combine");
    json.key("completed").boolean(m_completed);
    json.key("inputs").beginArray();
    for (const Input& input : m_inputs)
        writeInput(json, input, m_mode, m_unique);
    json.endArray().endObject();
    return json.text() + '\n';
}

void JoinReport::mergeBase(int index, const QString& path, const QString& root, const QStringList& topLevelNames) {
    m_inputs.push_back(listed(index, path));
    m_inputs.back().base = true;
    m_baseRoot = root;
    m_baseTopLevelNames = topLevelNames;
}

void JoinReport::mergeInput(int index, const QString& path) {
    Input input = listed(index, path);
    input.positions.resize(size_t(m_baseTopLevelNames.size()));
    for (qsizetype i = 0; i < m_baseTopLevelNames.size(); ++i)
        input.positions[size_t(i)].name = m_baseTopLevelNames.at(i);
    m_inputs.push_back(std::move(input));
}

JoinReport::Position* JoinReport::position(qsizetype index) {
    if (m_inputs.empty() || index < 0 || size_t(index) >= m_inputs.back().positions.size())
        return nullptr;
    return &m_inputs.back().positions[size_t(index)];
}

void JoinReport::nodeAdded(qsizetype index, std::string_view) {
    if (Position* at = position(index))
        ++at->added;
}

void JoinReport::nodeSkipped(qsizetype index, std::string_view name) {
    if (Position* at = position(index)) {
        ++at->skipped;
        at->skippedNames.emplace_back(name);
    }
}

void JoinReport::inputSkipped(const SkippedInput& skipped) {
    InputCheck check;
    check.path = skipped.path;
    check.reason = skipped.reason;
    check.line = skipped.line;
    check.column = skipped.column;
    check.root = skipped.shape.root;
    check.rootNamespace = skipped.shape.rootNamespace;
    check.expectedRootNamespace = skipped.base.rootNamespace;
    check.topLevelNodes = skipped.shape.topLevelNodes;
    check.comparedWith = skipped.base.path;
    check.expectedRoot = skipped.base.root;
    check.expectedTopLevelNodes = skipped.base.topLevelNodes;
    switch (skipped.cause) {
    case SkipCause::Unreadable:
        check.status = InputStatus::Unreadable;
        break;
    case SkipCause::NotWellFormed:
        check.status = InputStatus::NotWellFormed;
        break;
    case SkipCause::DifferentRoot:
        check.status = InputStatus::DifferentRoot;
        break;
    case SkipCause::DifferentCount:
        check.status = InputStatus::DifferentCount;
        break;
    }
    m_inputs.push_back(listed(skipped.index, skipped.path));
    m_inputs.back().leftOut = std::move(check);
}

void JoinReport::mergeStopped(int index, const QString& path) {
    m_stoppedAt = listed(index, path);
}

void JoinReport::combineBase(int index, const QString& path) {
    m_inputs.push_back(listed(index, path));
    m_inputs.back().base = true;
}

void JoinReport::combined(int index, const QString& path, qint64 added, qint64 repeated) {
    m_inputs.push_back(listed(index, path));
    m_inputs.back().combinedAdded = added;
    m_inputs.back().repeated = repeated;
}

void JoinReport::combineStopped(int index, const QString& path) {
    m_stoppedAt = listed(index, path);
}

void JoinReport::appended(int index, const QString& path, qint64 bytes, std::optional<TextReading> reading) {
    m_inputs.push_back(listed(index, path));
    m_inputs.back().bytes = bytes;
    m_inputs.back().reading = reading;
}

} // namespace corvanta
