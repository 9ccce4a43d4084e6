// Captures the console and status reports of the code under test, and sets
// the trace level it sees, for the lifetime of the object.
#pragma once

#include <string>
#include <vector>

#include "common/Report.h"

namespace qb::test {

class ReportCapture {
  public:
    explicit ReportCapture(int level = 0) : level_(level) {
        saved_ = report::Install({[this](const std::string& t) { console.push_back(t); },
                                  [this](const std::string& t) { status.push_back(t); },
                                  [this] { return level_; }});
    }
    ~ReportCapture() { report::Install(saved_); }
    ReportCapture(const ReportCapture&) = delete;
    ReportCapture& operator=(const ReportCapture&) = delete;

    void SetLevel(int level) { level_ = level; }

    std::vector<std::string> console;
    std::vector<std::string> status;

  private:
    int level_;
    report::Hooks saved_;
};

}  // namespace qb::test
