// Masking the password in printed texts: only where it stands as a token of
// its own, so a message is never cut into and a short password is not told
// by what the mask cuts.
#include "frame/secret_mask.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string masked(const std::string& text, const std::string& password, int* count = nullptr) {
    FixedText<200> out{};
    int n = maskPassword(text.c_str(), password.c_str(), out);
    if (count != nullptr) *count = n;
    return out.text;
}

TEST(SecretMask, ReplacesThePasswordOnlyWhereItStandsAsAToken) {
    const struct {
        const char* text;
        const char* password;
        const char* expected;
    } cases[] = {
        // A driver quoting the user name it was given.
        {"Login failed for user 'S3cretPw77'.", "S3cretPw77", "Login failed for user '***'."},
        {"S3cretPw77", "S3cretPw77", "***"},
        {"a S3cretPw77 b S3cretPw77", "S3cretPw77", "a *** b ***"},
        {"pw=Zq7-Secret;x", "Zq7-Secret", "pw=***;x"},
        // A one-letter password inside words is left alone: no "[uni***ODBC]".
        {"[unixODBC][Driver Manager]Data source name not found", "x",
         "[unixODBC][Driver Manager]Data source name not found"},
        {"does not exist", "x", "does not exist"},
        {"value x here", "x", "value *** here"},
        // Inside a longer word, also one with letters beyond ASCII.
        {"userS3cretPw77", "S3cretPw77", "userS3cretPw77"},
        {"S3cretPw77_2", "S3cretPw77", "S3cretPw77_2"},
        {"\xFCS3cretPw77", "S3cretPw77", "\xFCS3cretPw77"},
        {"no password here", "", "no password here"},
        {"", "x", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(masked(c.text, c.password), c.expected);
    }
    int count = 0;
    masked("'pw' and 'pw' and pwx", "pw", &count);
    EXPECT_EQ(count, 2);
}

TEST(SecretMask, OutputStaysWithinItsBuffer) {
    // Each one-letter password grows into three characters.
    const std::string text(150, ' ');
    std::string many;
    for (int i = 0; i < 100; ++i) many += "x ";
    FixedText<20> small{};
    maskPassword(many.c_str(), "x", small);
    EXPECT_EQ(std::string(small.text), "*** *** *** *** ***");
    char tiny[1] = {'z'};
    maskPassword(text.c_str(), "x", tiny, sizeof tiny);
    EXPECT_EQ(tiny[0], '\0');
}

}  // namespace
