#pragma once

#include "untClock.h"

#include <atomic>

// A clock for tests: a fixed "now" (when set) and pauses that return at once but are summed up.
class TTestClock : public TClock
{
public:
    QDateTime Now() const override { return fNow.isValid() ? fNow : TClock::Now(); }
    void Sleep(int ms) const override { fSlept += ms; }

    void SetNow(const QDateTime& now) { fNow = now; }
    int SleptMs() const { return fSlept.load(); }
    void ResetSlept() { fSlept = 0; }

private:
    QDateTime fNow;
    mutable std::atomic<int> fSlept{0};
};

// Installs the clock for the scope's life.
class TClockScope
{
public:
    explicit TClockScope(const TClock* clock) { TClock::SetCurrent(clock); }
    ~TClockScope() { TClock::SetCurrent(nullptr); }
};
