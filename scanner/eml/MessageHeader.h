// The header section of an Internet message (an .eml file of Windows Mail
// and Windows Live Mail): the sender, the recipients, the date and the
// message identifier, read from the fields as RFC 5322 writes them.
//
// The reader takes any bytes: it stops at the first empty line or at the end
// of what it is given (callers hand it at most kHeaderLimit bytes), and no
// input makes it read outside them. What is no address (a display name, a
// comment, a group's name, garbage) is passed over.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qb::eml {

// The most of a message file read for its header section.
inline constexpr size_t kHeaderLimit = 64 * 1024;

// The longest address kept (64 bytes before the "@", 255 after it); a longer
// one is garbage.
inline constexpr size_t kLongestAddress = 320;

struct MessageHeader {
    // The one address the message is from, as an Outlook Express message has
    // one: the From field's address; when From lists several, the Sender
    // field's address (RFC 5322 names there the one who sent it), or, with
    // no Sender, From's first. Empty when From names no address.
    std::string sender;
    std::vector<std::string> recipients;  // the To, Cc and Bcc fields' addresses, in order
    // The message's date as hours since 1970-01-01 00:00 UTC (minutes and
    // seconds dropped): from the Date field, or, when it has none that reads
    // as a date, from the date of the first Received field.
    std::optional<int64_t> hour;
    std::string messageId;  // the Message-ID field without blanks; empty when none
};

// Reads the header section at the start of bytes.
MessageHeader ReadHeader(std::string_view bytes);

// The addresses of one address field's value (unfolded or not): mailboxes,
// the members of groups, several separated by ",". Each is the address as
// written ("local@domain", a quoted local part with its quotes), without
// comments and folding white space; one without "@" between a local part
// and a domain, longer than kLongestAddress, or holding a control byte is
// left out.
std::vector<std::string> ReadAddresses(std::string_view value);

// The hours since 1970 (UTC) of a date-time as RFC 5322 writes it, the
// obsolete forms included (two-digit years, zone names, comments); nothing
// when the text is no such date.
std::optional<int64_t> ReadDateHour(std::string_view value);

}  // namespace qb::eml
