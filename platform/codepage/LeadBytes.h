// The lead bytes of the process's code page: what a component that folds
// only the letters A to Z needs so that it never touches the trail byte of a
// double-byte character. Needs the operating system alone, so the quelladdr
// library links it without the rest of the platform layer.
#pragma once

#include <array>
#include <cstdint>

namespace qb::platform {

// The environment variable through which a posix process tells the
// libraries loaded into it (quelladdr) the code page of its 8-bit text.
inline constexpr const char* kCodePageVariable = "QUELLBOX_CODEPAGE";

// Fills lead with the lead bytes of code page number (all false for a
// single-byte code page), as the system's conversions know them. False, lead
// all false, when the system cannot convert the code page or it has
// characters of more than two bytes.
bool LeadBytes(uint32_t number, std::array<bool, 256>& lead);

// The code page of the process's 8-bit text: GetACP() on Windows; on posix
// the environment variable kCodePageVariable (which the scanner sets to the
// code page it settled on), else 1252.
uint32_t ProcessCodePage();

}  // namespace qb::platform
