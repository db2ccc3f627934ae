#pragma once

#include <QDateTime>

#include <cstdint>

// The one source of time for everything that depends on the clock (time windows, countdowns,
// retry pauses), so that tests can run it exactly instead of slowly.
class TClock
{
public:
    virtual ~TClock() = default;

    // Current local date and time.
    virtual QDateTime Now() const;
    // Milliseconds since an arbitrary start; wraps at 2^32 like the platform tick count.
    virtual std::uint32_t TickCount() const;
    // Blocks the calling thread.
    virtual void Sleep(int ms) const;

    static const TClock& Current();
    // Replaces the clock for the whole process; nullptr restores the real one. Tests only,
    // before any thread that reads the clock is started.
    static void SetCurrent(const TClock* clock);
};

// Milliseconds from `earlier` to `later` on the wrapping tick clock.
inline std::uint32_t TickDiff(std::uint32_t later, std::uint32_t earlier)
{
    return later - earlier;
}
