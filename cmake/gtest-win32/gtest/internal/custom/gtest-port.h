// GoogleTest's hook for platform replacements, found before GoogleTest's own
// empty one in the Windows cross builds (cmake/QbHelpers.cmake).
//
// GoogleTest's Notification, which only its own thread helpers use, is built
// on std::mutex and std::condition_variable; the Win32 thread model of the
// cross compilers has neither. This one waits on an atomic flag instead.
// Everything else of GoogleTest's thread support uses Windows' own critical
// sections and stays as it is.
#ifndef QB_GTEST_CUSTOM_PORT_H
#define QB_GTEST_CUSTOM_PORT_H

#include <atomic>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing {
namespace internal {

class Notification {
  public:
    Notification() = default;
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;

    void Notify() { notified_.store(true); }
    void WaitForNotification() {
        while (!notified_.load()) {
        }
    }

  private:
    std::atomic<bool> notified_{false};
};

}  // namespace internal
}  // namespace testing

#endif
