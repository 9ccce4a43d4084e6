// The operating-system services the system calls on, one small interface per
// service. Code outside platform/ reaches the OS only through these; tests
// substitute in-memory doubles with ScopedServices.
#pragma once

#include <string>

#include "platform/FileSystem.h"
#include "platform/UserInterface.h"

namespace qb::platform {

// The services in force. Every pointer is set; the defaults are the real
// implementations for the operating system the program was built for.
struct Services {
    FileSystem* files = nullptr;
    UserInterface* ui = nullptr;
};

// The services in force (the operating system's own until a test replaces them).
Services& Current();

// The operating system's own services, created on first use and kept for the
// life of the program.
Services Default();

inline FileSystem& Files() {
    return *Current().files;
}
inline UserInterface& Ui() {
    return *Current().ui;
}

// Puts other services in force for its lifetime; fields left null keep the
// services in force before. Not copyable: it restores on destruction.
class ScopedServices {
  public:
    explicit ScopedServices(const Services& replacement);
    ~ScopedServices();
    ScopedServices(const ScopedServices&) = delete;
    ScopedServices& operator=(const ScopedServices&) = delete;

  private:
    Services saved_;
};

// A message box of a class that may write to the console log when no person
// can answer: with an interactive user interface the box is shown and its
// answer returned; otherwise text goes to the console log and the answer is
// the style's first button.
int ShowMessage(const std::string& text, const std::string& title, unsigned style);

}  // namespace qb::platform
