// The "LInfo" property of the login component: its exact bytes, the round
// trip, and what is refused.
#include "upgrade/login_component.h"

#include <gtest/gtest.h>

#include "framework/exceptions.h"

namespace {

TEST(LoginComponent, WritesTheScrambledLayout) {
    TacLoginComponent c(nullptr);
    EXPECT_FALSE(c.HasLInfo());
    c.HTTPUsername = "ab";
    c.HTTPPassword = "xyz";
    ASSERT_TRUE(c.HasLInfo());
    // N = 1 + 2 + 3 = 6, key = 6 ^ 0xA7 = 0xA1.
    const std::string expected = {6,
                                  char(2 ^ 0xA1),
                                  char('a' ^ 0xA1),
                                  char('b' ^ 0xA1),
                                  char('x' ^ 0xA1),
                                  char('y' ^ 0xA1),
                                  char('z' ^ 0xA1)};
    EXPECT_EQ(c.WriteLInfo(), expected);
}

TEST(LoginComponent, ReadsBackWhatItWrote) {
    struct Case {
        std::string user, password;
    };
    for (const Case& k : {Case{"user", "pass"}, Case{"", "only password"}, Case{"only user", ""},
                          Case{std::string(200, 'u'), std::string(54, 'p')},
                          Case{"\xC3\xA9l\xC3\xA8ve", std::string("p\0w", 3)}}) {
        TacLoginComponent writer(nullptr), reader(nullptr);
        writer.HTTPUsername = k.user;
        writer.HTTPPassword = k.password;
        reader.ReadLInfo(writer.WriteLInfo());
        EXPECT_EQ(reader.HTTPUsername, k.user);
        EXPECT_EQ(reader.HTTPPassword, k.password);
    }
}

TEST(LoginComponent, RefusesWhatTheFormatCannotHold) {
    TacLoginComponent c(nullptr);
    c.HTTPUsername = std::string(200, 'u');
    c.HTTPPassword = std::string(55, 'p');  // 255 bytes together
    EXPECT_THROW(c.WriteLInfo(), fw::EInvalidOperation);

    c.HTTPUsername = "kept";
    c.HTTPPassword = "kept too";
    const std::string bad[] = {std::string(), std::string(1, '\0'), std::string("\x05\x01", 2),
                               // L says 9 bytes of user name where only 2 follow.
                               std::string{3, char(9 ^ 3 ^ 0xA7), 'a', 'b'}};
    for (const auto& data : bad)
        EXPECT_THROW(c.ReadLInfo(data), fw::EInvalidOperation);
    EXPECT_EQ(c.HTTPUsername, "kept");
    EXPECT_EQ(c.HTTPPassword, "kept too");
}

}  // namespace
