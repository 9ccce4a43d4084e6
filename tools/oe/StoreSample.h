// Sample stores for the tools: messages with realistic fields and bodies,
// and the seed files of the fuzz target.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qb::tools {

// Where a generated message file keeps its records: each one right after its
// body, scattered among the bodies, or all of them together after the
// bodies, as Outlook Express's own files keep them.
enum class RecordLayout { AmongBodies, Together };

// A message file of `messages` records whose size comes to about
// `targetBytes`, written to path. With senders above 0 the messages come
// from exactly that many addresses in turn; otherwise from the sample's own
// mix (5,000 names over 300 domains).
void WriteMessageStore(const std::string& path, int32_t messages, int64_t targetBytes,
                       RecordLayout layout = RecordLayout::AmongBodies, int32_t senders = 0);

// A small store in folder: Folders.dbx naming Inbox, Outbox, Sent Items,
// Deleted Items, Drafts and the extra folders given, each kept in
// "<name>.dbx" with a few messages (Outbox, Deleted Items and Drafts empty).
// Returns the number of files written.
int WriteSampleStore(const std::string& folder, const std::vector<std::string>& extraFolders);

// Small message and folder files of every tree shape, well-formed and
// broken, written into folder as seed-NNN.dbx. Returns how many.
int WriteFuzzSeeds(const std::string& folder);

}  // namespace qb::tools
