#include "untClock.h"

#include <QThread>

#include <atomic>
#include <chrono>

namespace {
const TClock gRealClock;
std::atomic<const TClock*> gClock{&gRealClock};
} // namespace

QDateTime TClock::Now() const
{
    return QDateTime::currentDateTime();
}

std::uint32_t TClock::TickCount() const
{
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    return static_cast<std::uint32_t>(ms);
}

void TClock::Sleep(int ms) const
{
    QThread::msleep(static_cast<unsigned long>(ms < 0 ? 0 : ms));
}

const TClock& TClock::Current()
{
    return *gClock.load(std::memory_order_acquire);
}

void TClock::SetCurrent(const TClock* clock)
{
    gClock.store(clock ? clock : &gRealClock, std::memory_order_release);
}
