#pragma once

#include <QtGlobal>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stop_token>

namespace corvanta {

/// Tells the inputs parsed ahead what to write for, once the first document is in. An input ahead of the first
/// document waits for it rather than grow into a tree, so that memory stays bounded whatever its size. The
/// candidate, the input the join takes next while there is no first document, does not wait: it is to become the
/// first document. So the join never waits for an input that waits for it.
///
/// Every wait ends once the join's stop is requested, release() is called, or a Closer goes.
template <typename Target> class TargetGate {
public:
    using Pointer = std::shared_ptr<const Target>;

    explicit TargetGate(const std::stop_token& stop)
        : m_releaseOnStop(stop, Release{this}) {}

    struct Answer {
        Pointer target;         ///< what to write for; null when the input is to be kept as a tree
        bool candidate = false; ///< the input is to become the first document
    };

    /// Called on the thread that parses the input at \a index (0-based) in the list. With \a enough, a target
    /// published meanwhile that is not enough is waited past (a provisional one that does not yet tell all).
    template <typename Enough = bool (*)(const Target&)>
    Answer waitFor(
        qsizetype index, Enough enough = [](const Target&) { return true; }) {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return (m_target && enough(*m_target)) || m_released || m_candidate == index; });
        if ((m_target && enough(*m_target)) || m_released)
            return {m_target};
        return {nullptr, true};
    }

    /// From now on the inputs write for \a target, which may be followed by a fuller one; null when no first
    /// document is coming after all.
    void publish(Pointer target) {
        {
            const std::lock_guard lock(m_mutex);
            m_released = m_released || !target;
            m_target = std::move(target);
        }
        m_changed.notify_all();
    }

    /// The input at \a index (0-based) is the next to become the first document: those before it were left out.
    void setCandidate(qsizetype index) {
        {
            const std::lock_guard lock(m_mutex);
            m_candidate = index;
        }
        m_changed.notify_all();
    }

    /// No first document is coming: the inputs waiting are kept as trees, and end at once.
    void release() {
        {
            const std::lock_guard lock(m_mutex);
            m_released = true;
        }
        m_changed.notify_all();
    }

    /// Releases the gate when it goes: made after the parsing threads' owner, so that none of them still waits
    /// when they are stopped, however the join ends.
    class Closer {
    public:
        explicit Closer(TargetGate& gate)
            : m_gate(gate) {}
        ~Closer() { m_gate.release(); }
        Closer(const Closer&) = delete;
        Closer& operator=(const Closer&) = delete;

    private:
        TargetGate& m_gate;
    };

private:
    struct Release {
        TargetGate* gate;
        void operator()() const { gate->release(); }
    };

    std::mutex m_mutex; // guards the three members below
    std::condition_variable m_changed;
    Pointer m_target;
    bool m_released = false;
    qsizetype m_candidate = 0; // the first input is never an input ahead: it is parsed by the join itself
    std::stop_callback<Release> m_releaseOnStop; // last: it may run release() at once
};

} // namespace corvanta
