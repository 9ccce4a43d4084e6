// The scanner's run-time error: a 32-bit number, a source and a description.
// Procedures that arm an error path catch it (and any other exception, mapped
// by DescribeCurrentException) and write their error line.
#pragma once

#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>

namespace qb {

// Error numbers of the program's own errors.
namespace err {
constexpr int32_t kKeyInvalid = static_cast<int32_t>(0x80040001);       // sorted list, numeric key
constexpr int32_t kSortModeFailure = static_cast<int32_t>(0x80040003);  // sorted list, mode change
constexpr int32_t kCollection = static_cast<int32_t>(0x80040200);       // collections, string class

// Numbers for failures of the language run time, in the numbering the
// product's users know from its messages.
constexpr int32_t kInvalidCall = 5;        // "Invalid procedure call or argument"
constexpr int32_t kOverflow = 6;           // "Overflow"
constexpr int32_t kOutOfMemory = 7;        // "Out of memory"
constexpr int32_t kSubscript = 9;          // "Subscript out of range"
constexpr int32_t kTypeMismatch = 13;      // "Type mismatch"
constexpr int32_t kFileNotFound = 53;      // "File not found"
constexpr int32_t kPermissionDenied = 70;  // "Permission denied"
constexpr int32_t kPathFileAccess = 75;    // "Path/File access error"
}  // namespace err

class RunError : public std::runtime_error {
  public:
    RunError(int32_t number, std::string source, std::string description)
        : std::runtime_error(description),
          number_(number),
          source_(std::move(source)),
          description_(std::move(description)) {}

    int32_t Number() const { return number_; }
    const std::string& Source() const { return source_; }
    const std::string& Description() const { return description_; }

  private:
    int32_t number_;
    std::string source_;
    std::string description_;
};

inline RunError OverflowError(std::string source) {
    return RunError(err::kOverflow, std::move(source), "Overflow");
}
inline RunError TypeMismatchError(std::string source) {
    return RunError(err::kTypeMismatch, std::move(source), "Type mismatch");
}

struct ErrorInfo {
    int32_t number = 0;
    std::string source;
    std::string description;
};

// Call only inside a catch block: describes the exception being handled.
// RunError keeps its own number; the standard library's failures get the
// run-time numbers above.
inline ErrorInfo DescribeCurrentException() {
    try {
        throw;
    } catch (const RunError& e) {
        return {e.Number(), e.Source(), e.Description()};
    } catch (const std::bad_alloc&) {
        return {err::kOutOfMemory, "", "Out of memory"};
    } catch (const std::overflow_error&) {
        return {err::kOverflow, "", "Overflow"};
    } catch (const std::out_of_range&) {
        return {err::kSubscript, "", "Subscript out of range"};
    } catch (const std::invalid_argument&) {
        return {err::kTypeMismatch, "", "Type mismatch"};
    } catch (const std::exception& e) {
        return {err::kInvalidCall, "", e.what()};
    } catch (...) {
        return {err::kInvalidCall, "", "Invalid procedure call or argument"};
    }
}

// "Name() Error <number> : <description>", the error line of a procedure.
inline std::string ErrorLine(std::string_view procedure, const ErrorInfo& info) {
    std::string line(procedure);
    line += "() Error ";
    line += std::to_string(info.number);
    line += " : ";
    line += info.description;
    return line;
}

}  // namespace qb
