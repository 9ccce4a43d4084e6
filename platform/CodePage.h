// The code page of the system's 8-bit text, the tables of common/Text.h built
// from the system's own conversions and case mapping, and Unicode names.
//
// Windows: the system's ANSI code page (GetACP); tables from
// MultiByteToWideChar, GetCPInfo and CharLowerBuffW / CharUpperBuffW.
// posix: no system code page of its own; tables from glibc's iconv ("CP"
// and the number) and the wide-character case mapping of the C.UTF-8
// locale. Either way the tables are built once per code page and kept for
// the life of the program, so no fold or comparison calls the system.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/Text.h"
#include "platform/codepage/LeadBytes.h"

namespace qb::platform {

class Registry;

// The code page the operating system runs its 8-bit text in: GetACP() on
// Windows; none on posix.
std::optional<uint32_t> SystemCodePage();

// Where Windows keeps its ANSI code page: the value ACP under this key of
// HKEY_LOCAL_MACHINE (a "reg export" of the key carries it).
inline constexpr const char* kCodePageKey = "SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage";

// The code page the product's 8-bit text is in: the system's, else the value
// ACP under kCodePageKey in registry, else the environment variable
// kCodePageVariable; none when none of them names one (decimal digits,
// blanks around them allowed). The scanner and the tools that write its
// files take the same one.
std::optional<uint32_t> WantedCodePage(Registry& registry);

// The tables of code page number built from the system's conversions and
// case mapping; null when the system cannot convert the code page or it is
// neither a single-byte nor a double-byte one (UTF-8, GB18030, ISO-2022).
// 1252 is built like any other (tests compare it with the tables built into
// the program).
std::unique_ptr<text::CodePage> BuildCodePage(uint32_t number);

// Puts code page number in force for the process's 8-bit text (Windows-1252
// from the program's own tables; any other built by BuildCodePage, once).
// On posix the environment variable above is set to the number, for the
// libraries of the process. False, with Windows-1252 in force, when the code
// page cannot be built.
bool UseCodePage(uint32_t number);

// UTF-16 text with every code unit in lower case by the system's simple
// case mapping (CharLowerBuffW; towlower of the C.UTF-8 locale).
std::u16string LowerWide(std::u16string_view text);

// A file or folder name, or a name the user gave in the configuration, in
// UTF-16. Windows: the code page's characters, and the escaped forms of
// characters outside it that the file system's folder listing hands out.
// posix: a name that is valid UTF-8 (as file names on Linux are) is decoded
// as UTF-8, any other through the code page in force.
std::u16string NameToWide(std::string_view name);

}  // namespace qb::platform
