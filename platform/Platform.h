// The operating-system services the system calls on, one small interface per
// service, each declared in its own header beside this one. Code outside
// platform/ reaches the operating system only through these accessors; tests
// put in-memory doubles in force with ScopedServices.
#pragma once

#include <string>

namespace qb::platform {

class FileSystem;     // FileSystem.h: file tests, whole-file reads, atomic replace
class UserInterface;  // UserInterface.h: message boxes
class Registry;       // Registry.h: the system registry
class Environment;    // Environment.h: %NAME% expansion, OS family, user name
class SystemInfo;     // SystemInfo.h: physical memory
class Network;        // Network.h: HTTP and FTP client
class Libraries;      // Libraries.h: run-time loading of shared libraries
class Clock;          // Clock.h: local date and time in the general date format
class Instance;       // Instance.h: previous-instance test, program folder, command line
class StatusWindow;   // StatusWindow.h: the scanner's status window

// Substitutes for the operating system's own services. A null field means
// the operating system's own service is in force.
struct Services {
    FileSystem* files = nullptr;
    UserInterface* ui = nullptr;
    Registry* registry = nullptr;
    Environment* environment = nullptr;
    SystemInfo* system = nullptr;
    Network* network = nullptr;
    Libraries* libraries = nullptr;
    Clock* clock = nullptr;
    Instance* instance = nullptr;
    StatusWindow* status = nullptr;
};

// The substitutions in force.
Services& Current();

// The operating system's own services, created on first use and kept for the
// life of the program. Each is defined by the implementation for the system
// being built for (posix/ or win32/), beside the service's other code.
FileSystem& DefaultFileSystem();
UserInterface& DefaultUserInterface();
Registry& DefaultRegistry();
Environment& DefaultEnvironment();
SystemInfo& DefaultSystemInfo();
Network& DefaultNetwork();
Libraries& DefaultLibraries();
Clock& DefaultClock();
Instance& DefaultInstance();
StatusWindow& DefaultStatusWindow();

// The service in force.
inline FileSystem& Files() {
    return Current().files ? *Current().files : DefaultFileSystem();
}
inline UserInterface& Ui() {
    return Current().ui ? *Current().ui : DefaultUserInterface();
}
inline Registry& Reg() {
    return Current().registry ? *Current().registry : DefaultRegistry();
}
inline Environment& Env() {
    return Current().environment ? *Current().environment : DefaultEnvironment();
}
inline SystemInfo& System() {
    return Current().system ? *Current().system : DefaultSystemInfo();
}
inline Network& Net() {
    return Current().network ? *Current().network : DefaultNetwork();
}
inline Libraries& Libs() {
    return Current().libraries ? *Current().libraries : DefaultLibraries();
}
inline Clock& Time() {
    return Current().clock ? *Current().clock : DefaultClock();
}
inline Instance& Program() {
    return Current().instance ? *Current().instance : DefaultInstance();
}
inline StatusWindow& Status() {
    return Current().status ? *Current().status : DefaultStatusWindow();
}

// Puts substitutes in force for its lifetime; fields left null keep what was
// in force before. Not copyable: it restores on destruction.
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
