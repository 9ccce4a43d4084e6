// The Windows registry export format (.reg): "REGEDIT4" files in the 8-bit
// code page and "Windows Registry Editor Version 5.00" files in UTF-16LE with
// a byte-order mark, as regedit and "reg export" write them.
//
// Read: keys "[HKEY_...\...]", key deletions "[-...]", values "name"=...
// or @=... (the default value) as "text" (with \\ and \" escapes), dword:,
// hex: (REG_BINARY), hex(N): (any type N), value deletions "name"=-, ";"
// comment lines, and hex lists continued over lines ending in "\". Several
// exports joined into one file are read as one: a header line further down
// (after a byte-order mark in a UTF-16 file) starts the next part.
// Written: the same format the tree was read in, every key and value with its
// type and bytes as stored, keys in the registry's order, CR LF line ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/portable/RegistryTree.h"

namespace qb::platform {

struct RegFileError {
    size_t line = 0;  // 1-based line of the fault
    std::string message;
};

// Parses a whole file into tree (replacing its content). False on the first
// fault, with error telling the line and what is wrong; tree is then empty.
bool ParseRegFile(std::string_view bytes, RegTree& tree, RegFileError& error);

// The file's bytes for tree.
std::string WriteRegFile(const RegTree& tree);

}  // namespace qb::platform
