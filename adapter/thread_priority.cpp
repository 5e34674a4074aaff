#include "adapter/thread_priority.hpp"

#include <algorithm>
#include <cerrno>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

namespace zanst::adapter {

namespace {

id_t threadId() {
    return static_cast<id_t>(::gettid());
}

} // namespace

void ThreadPriority::raise() {
    raised_ = true;
    thread_ = ::gettid();
    realTimePolicy_ = -1;
    realTimeNow_.store(false, std::memory_order_relaxed);
    load_ = ContentionWatch{};
    nextCheckNs_ = 0;
    PriorityCeiling ceiling = PriorityCeiling::Default;
    // The nice value is the thread's own: setpriority on its thread id.
    errno = 0;
    const int base = ::getpriority(PRIO_PROCESS, threadId());
    baseNice_ = errno == 0 ? base : 0;
    nice_ = baseNice_;
    if (errno == 0) {
        for (const int step : {kNiceBelowProcess, 1}) {
            if (::setpriority(PRIO_PROCESS, threadId(), base - step) == 0) {
                nice_ = base - step;
                ceiling = PriorityCeiling::RaisedNice;
                break;
            }
        }
    }
    for (const int policy : {SCHED_FIFO, SCHED_RR}) {
        sched_param sp{};
        sp.sched_priority = std::min(kRealTimePriority, ::sched_get_priority_max(policy));
        if (::pthread_setschedparam(::pthread_self(), policy, &sp) == 0) {
            realTimePolicy_ = policy;
            realTimePriority_ = sp.sched_priority;
            ceiling =
                policy == SCHED_FIFO ? PriorityCeiling::RealTimeFifo : PriorityCeiling::RealTimeRoundRobin;
            setRealTime(false);
            break;
        }
    }
    ceiling_.store(ceiling, std::memory_order_release);
}

void ThreadPriority::restore() {
    if (!raised_) {
        return;
    }
    if (thread_ == ::gettid()) {
        setRealTime(false);
        ::setpriority(PRIO_PROCESS, threadId(), baseNice_);
    }
    realTimeNow_.store(false, std::memory_order_release);
    raised_ = false;
    realTimePolicy_ = -1;
    ceiling_.store(PriorityCeiling::Default, std::memory_order_release);
}

void ThreadPriority::setRealTime(bool on) {
    if (realTimePolicy_ < 0) {
        return;
    }
    sched_param sp{};
    sp.sched_priority = on ? realTimePriority_ : 0;
    if (::pthread_setschedparam(::pthread_self(), on ? realTimePolicy_ : SCHED_OTHER, &sp) != 0) {
        return;
    }
    if (on) {
        realTimeTurns_.fetch_add(1, std::memory_order_relaxed);
    } else {
        ::setpriority(PRIO_PROCESS, threadId(), nice_); // the nice value it had before
    }
    realTimeNow_.store(on, std::memory_order_release);
}

void ThreadPriority::watch(std::int64_t now) {
    if (realTimePolicy_ < 0 || now < nextCheckNs_) {
        return;
    }
    if (now - nextCheckNs_ > kLoadCheckNs) {
        load_.restart(); // no work for a while: the last sample tells of another time
    }
    nextCheckNs_ = now + kLoadCheckNs;
    if (const std::optional<CpuTimes> times = readCpuTimes(procStat_.c_str())) {
        const bool contended = load_.sample(*times);
        if (contended != realTimeNow_.load(std::memory_order_relaxed)) {
            setRealTime(contended);
        }
    }
}

std::string ThreadPriority::text(std::string_view thread) const {
    const std::string who(thread);
    const std::string nice = who + " at nice " + std::to_string(nice_);
    const auto realTime = [&](const char* policy) {
        return nice + ", real-time priority " + std::to_string(realTimePriority_) + " (" + policy +
               ") while no processor is idle";
    };
    switch (ceiling()) {
    case PriorityCeiling::RealTimeFifo:
        return realTime("SCHED_FIFO");
    case PriorityCeiling::RealTimeRoundRobin:
        return realTime("SCHED_RR");
    case PriorityCeiling::RaisedNice:
        return nice + " (the system permits no real-time priority)";
    case PriorityCeiling::Default:
        break;
    }
    return who + " at normal priority (the system permits no higher)";
}

} // namespace zanst::adapter
