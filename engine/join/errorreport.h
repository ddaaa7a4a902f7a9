#pragma once

#include <QString>
#include <optional>

namespace corvanta {

/// Location texts of the three procedures that report their failures.
namespace location {
inline constexpr auto JoinFiles = "in Quorvel5/20/2014.Form1.Start ";
inline constexpr auto SaveResults = "in Quorvel5/20/2014.Form2.SaveResults ";
inline constexpr auto GoBack = "in Quorvel5/20/2014.Form2.Back ";
} // namespace location

/// The address users are asked to mail a screenshot to (a build setting).
QString supportAddress();

/// Text of the application error report. \a fileLine is given by the join only. When the same step failed
/// \a moreFailures more times under one top-level node of a merge, one more line says how often.
QString applicationErrorReport(const QString& description, const QString& location, int step,
                               const std::optional<QString>& fileLine = std::nullopt, qsizetype moreFailures = 0);

/// \a text with every CR LF and lone CR turned into LF, as message boxes and the console show lines.
QString displayLines(QString text);

} // namespace corvanta
