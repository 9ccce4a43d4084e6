// The header reader: address fields, dates, and the header section's limits.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/CivilTime.h"
#include "scanner/eml/MessageHeader.h"

namespace qb::eml {
namespace {

using Addresses = std::vector<std::string>;

struct AddressCase {
    const char* value;
    Addresses expected;
};

TEST(ReadAddresses, TakesTheAddressOfEveryFormOfMailbox) {
    const std::string longLocal(400, 'a');
    const AddressCase cases[] = {
        {"jo@example.com", {"jo@example.com"}},
        {"Jo Smith <Jo@Example.com>", {"Jo@Example.com"}},
        {"\"Smith, Jo\" <jo@example.com>, ann@example.org", {"jo@example.com", "ann@example.org"}},
        {"jo@example.com (Jo; the \"boss\" (really))", {"jo@example.com"}},
        {"\"jo smith\"@example.com", {"\"jo smith\"@example.com"}},
        {"friends: a@x.org, B <b@y.org>;, c@z.org", {"a@x.org", "b@y.org", "c@z.org"}},
        {"undisclosed-recipients:;", {}},
        {"=?utf-8?Q?J=C3=B6rg,_M.?= <jorg@example.de>", {"jorg@example.de"}},
        {"=?iso-8859-1?B?SvZyZw==?= <j@example.de>", {"j@example.de"}},
        {"<@relay.org,@other.org:jo@example.com>", {"jo@example.com"}},
        {"jo @ example . com", {"jo@example.com"}},
        {"Jo Smith jo@example.com", {"jo@example.com"}},
        {"jo@[192.0.2.1]", {"jo@[192.0.2.1]"}},
        {"j\xF6rg@example.de", {"j\xF6rg@example.de"}},
        {"no address here, @example.com, jo@, <>", {}},
        {"bad\x01"
         "byte@example.com, ok@example.com",
         {"ok@example.com"}},
        {"", {}},
        {"<unclosed@example.com", {"unclosed@example.com"}},
        {"\"unclosed@example.com", {}},
        {"(unclosed comment jo@example.com", {}},
    };
    for (const AddressCase& c : cases)
        EXPECT_EQ(ReadAddresses(c.value), c.expected) << c.value;
    EXPECT_TRUE(ReadAddresses(longLocal + "@example.com").empty());
    EXPECT_EQ(ReadAddresses(std::string("a@x.org\0b@y.org", 15)), Addresses{});
}

struct DateCase {
    const char* value;
    std::optional<int64_t> hour;
};

constexpr int64_t Hour(int y, int m, int d, int h) {
    return civil::HourNumber(y, m, d, h);
}

TEST(ReadDateHour, ReadsDatesInEveryZoneAndTheObsoleteForms) {
    const DateCase cases[] = {
        {"Tue, 1 Jul 2003 10:52:37 +0000", Hour(2003, 7, 1, 10)},
        {"Tue, 1 Jul 2003 10:52:37 +0200", Hour(2003, 7, 1, 8)},
        {"1 Jul 2003 23:30 -0130", Hour(2003, 7, 2, 1)},
        {"Wed, 31 Dec 1969 23:59:59 -0000", Hour(1969, 12, 31, 23)},
        {"Thu, 01 Jan 70 05:00:00 EST", Hour(1970, 1, 1, 10)},
        {"Mon (comment), 29 Feb 2016 00:10:00 GMT (zone)", Hour(2016, 2, 29, 0)},
        {"7 Sep 03 12:00:00", Hour(2003, 9, 7, 12)},
        {"7 SEPTEMBER 103 12:00:00 +0000", Hour(2003, 9, 7, 12)},
        {"29 Feb 2015 00:10:00 +0000", std::nullopt},
        {"32 Jan 2003 10:00:00 +0000", std::nullopt},
        {"1 Jul 2003 24:00:00 +0000", std::nullopt},
        {"1 Jul 2003", std::nullopt},
        {"yesterday", std::nullopt},
        {"", std::nullopt},
        {"1 Foo 2003 10:00:00", std::nullopt},
        {"1 Jul 99999 10:00:00", std::nullopt},
    };
    for (const DateCase& c : cases)
        EXPECT_EQ(ReadDateHour(c.value), c.hour) << c.value;
}

TEST(ReadHeader, ReadsTheFieldsOfTheHeaderSectionOnly) {
    const std::string message =
        "Received: from a by b; Wed, 2 Jul 2003 09:00:00 +0000\r\n"
        "Received: from c by d; Tue, 1 Jul 2003 09:00:00 +0000\r\n"
        "from: Jo <jo@example.com>\r\n"
        "To: ann@example.org,\r\n"
        "\tBob\r\n"
        " <bob@example.org>\r\n"
        "garbage line without a colon\r\n"
        "CC: carl@example.org\r\n"
        "Bcc: dora@example.org\r\n"
        "Message-ID: <abc@\r\n"
        " host>\r\n"
        "Date: Tue, 1 Jul 2003 10:52:37 +0000\r\n"
        "\r\n"
        "To: body@example.org\r\n";
    const MessageHeader h = ReadHeader(message);
    EXPECT_EQ(h.sender, "jo@example.com");
    EXPECT_EQ(h.recipients, (Addresses{"ann@example.org", "bob@example.org", "carl@example.org",
                                       "dora@example.org"}));
    EXPECT_EQ(h.messageId, "<abc@host>");
    EXPECT_EQ(h.hour, Hour(2003, 7, 1, 10));
}

TEST(ReadHeader, AMessageHasOneSenderHoweverManyAddressesItsFromFieldLists) {
    const struct {
        const char* fields;
        const char* sender;
    } cases[] = {
        {"From: Jo <jo@example.com>\r\n", "jo@example.com"},
        {"From: a@x.org, b@x.org, c@x.org\r\n", "a@x.org"},
        {"From: a@x.org, b@x.org\r\nSender: Desk <desk@x.org>, d@x.org\r\n", "desk@x.org"},
        {"Sender: desk@x.org\r\nFrom: a@x.org\r\nFrom: b@x.org\r\n", "desk@x.org"},
        {"From: jo@example.com\r\nSender: desk@x.org\r\n", "jo@example.com"},
        {"From: a@x.org, b@x.org\r\nSender: no address\r\n", "a@x.org"},
        {"From: undisclosed\r\nSender: desk@x.org\r\n", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReadHeader(c.fields).sender, c.sender) << c.fields;
}

TEST(ReadHeader, TakesTheFirstReceivedDateWhenTheDateIsMissingOrBad) {
    const char* received =
        "Received: from a by b; Wed, 2 Jul 2003 09:00:00 +0000\n"
        "Received: from c by d; Tue, 1 Jul 2003 09:00:00 +0000\n";
    EXPECT_EQ(ReadHeader(std::string(received) + "Date: soon\n\n").hour, Hour(2003, 7, 2, 9));
    EXPECT_EQ(ReadHeader(received).hour, Hour(2003, 7, 2, 9));
    EXPECT_EQ(ReadHeader("From: jo@example.com\n").hour, std::nullopt);
    EXPECT_EQ(ReadHeader("Received: no date\nDate: also none\n").hour, std::nullopt);
}

TEST(ReadHeader, FindsNothingInBytesThatAreNoMessage) {
    const std::string inputs[] = {
        std::string(5000, '\0'),
        std::string("From:") + std::string(70000, '<'),
        std::string("To: ") + std::string(70000, '('),
        std::string("From: <") + std::string(70000, '"'),
        "From: \"\\",
        "From: (\\",
        "\n\nFrom: jo@example.com\n",
        "Message-ID: <a\x01b>\nDate: 1 Jul 2003 10:00:00:00 +0000\n",
    };
    for (const std::string& input : inputs) {
        const MessageHeader h = ReadHeader(input);
        EXPECT_TRUE(h.sender.empty() && h.recipients.empty() && h.messageId.empty() && !h.hour)
            << input.substr(0, 40);
    }
}

}  // namespace
}  // namespace qb::eml
