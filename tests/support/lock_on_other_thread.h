#pragma once

#include <cstdint>
#include <future>

namespace tesk_quor_test {

// Whether another thread can take the mutex within the timeout; a lock it
// takes is given back at once.
template <typename Mutex> bool tryLockOnOtherThread(Mutex& mutex, std::uint32_t timeoutMs) {
    return std::async(std::launch::async,
                      [&] {
                          const bool held = mutex.tryLock(timeoutMs);
                          if (held) {
                              mutex.unlock();
                          }
                          return held;
                      })
        .get();
}

} // namespace tesk_quor_test
