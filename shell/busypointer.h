#pragma once

class QWidget;

namespace corvanta {

/// The main window's busy pointer (the hourglass), shown while the Append mode or an Add Folder scan works.
/// Work started from the events of other work (a join or a second scan run during a scan) holds it as well,
/// so the hourglass stays until the last holder lets go; then the window's default pointer comes back.
class BusyPointer {
public:
    explicit BusyPointer(QWidget& window);

    /// Takes the pointer when \a busy, lets go of it otherwise; a release without a hold does nothing.
    void setBusy(bool busy);

    /// Holds the pointer for its own lifetime, however the work in between ends.
    class Hold {
    public:
        explicit Hold(BusyPointer& pointer);
        ~Hold();
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

    private:
        BusyPointer& m_pointer;
    };

private:
    QWidget& m_window;
    int m_holders = 0;
};

} // namespace corvanta
