#include "common/RunError.h"

#include <gtest/gtest.h>

namespace qb {
namespace {

ErrorInfo Describe(auto thrower) {
    try {
        thrower();
    } catch (...) {
        return DescribeCurrentException();
    }
    return {};
}

TEST(RunError, ErrorLineShowsSignedDecimalNumberAndDescription) {
    const ErrorInfo info = Describe([] {
        throw RunError(err::kCollection, "CEmails::Remove()", "Collection key or index is invalid");
    });
    EXPECT_EQ(info.number, -2147220992);
    EXPECT_EQ(info.source, "CEmails::Remove()");
    EXPECT_EQ(ErrorLine("ScanCaughtLegit", info),
              "ScanCaughtLegit() Error -2147220992 : Collection key or index is invalid");
}

TEST(RunError, StandardFailuresGetRunTimeNumbers) {
    EXPECT_EQ(Describe([] { throw std::bad_alloc(); }).number, err::kOutOfMemory);
    EXPECT_EQ(Describe([] { throw std::overflow_error("x"); }).description, "Overflow");
    EXPECT_EQ(Describe([] { throw std::out_of_range("x"); }).number, err::kSubscript);
    EXPECT_EQ(Describe([] { throw std::invalid_argument("x"); }).number, err::kTypeMismatch);
    EXPECT_EQ(Describe([] { throw 42; }).number, err::kInvalidCall);
    EXPECT_EQ(ErrorLine("Main", Describe([] { throw OverflowError("Main"); })),
              "Main() Error 6 : Overflow");
}

}  // namespace
}  // namespace qb
