#pragma once

#include "engine/join/joinedtext.h"
#include "engine/join/joinobserver.h"
#include "engine/join/skippedinput.h"

#include <QString>
#include <vector>

namespace corvanta {

/// What the join needs of the window that starts it: the file list, the mode buttons, the pointer and progress
/// bar, message boxes and the hand-off into the results window. The main window, the command-line joiner and
/// tests implement it.
class JoinHost {
public:
    enum class Icon { None, Warning };

    virtual ~JoinHost() = default;

    /// Number of items in the file list.
    virtual int itemCount() const = 0;
    /// Text of list item \a index, 1-based.
    virtual QString itemText(int index) const = 0;
    /// True when "Append files one after another" is selected.
    virtual bool appendSelected() const = 0;
    /// True when "Combine files under one root element" is selected (and Append is not).
    virtual bool combineSelected() const { return false; }
    /// True when Combine leaves out a top-level node whose text is that of one already in the result.
    virtual bool uniqueNodes() const { return false; }
    /// The name of the root element that wraps appended files into one document (one that isWrapRootName()
    /// accepts), or an empty text to append them as they are.
    virtual QString wrapRootName() const = 0;
    /// True when "Skip files that cannot be joined" is on: Merge and Combine leave out every input that cannot be
    /// read, does not parse or does not match the first usable input, and join the rest.
    virtual bool skipBadInputs() const { return false; }

    virtual void setBusyPointer(bool busy) = 0;
    /// Progress in percent; fractional values are passed on unrounded.
    virtual void setProgress(double percent) = 0;

    /// A modal box titled "Corvanta" with an OK button. \a text breaks lines with CR LF or CR.
    virtual void showMessage(const QString& text, Icon icon) = 0;
    /// The application error report box; \a text comes from applicationErrorReport().
    virtual void showErrorReport(const QString& text) = 0;
    /// Once, at the end of a join that left inputs out, \a skipped in list order; by default one box naming them.
    virtual void showSkippedInputs(const std::vector<SkippedInput>& skipped) {
        showMessage(skippedInputsMessage(skipped), Icon::Warning);
    }

    /// Hand-off: replaces the results text whole. \a text can be read only during the call.
    virtual void setResultsText(const JoinedText& text) = 0;
    virtual void showResults() = 0;
    virtual void hideMain() = 0;

    /// Told what the join does with each input; by default one that listens to nothing.
    virtual JoinObserver& joinObserver() {
        static JoinObserver nobody;
        return nobody;
    }
};

} // namespace corvanta
