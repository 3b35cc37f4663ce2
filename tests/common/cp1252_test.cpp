#include "common/cp1252.h"

#include <gtest/gtest.h>

namespace vorlund {
namespace {

TEST(Cp1252, UpperCasesAsciiAndAccentedLettersOnly) {
    std::string text = "abz\xE5\xE4\xF6\xE9\x9A\x9C\x9E\xFF";
    UpperCaseCp1252(text);
    EXPECT_EQ(text, "ABZ\xC5\xC4\xD6\xC9\x8A\x8C\x8E\x9F");

    // Division sign, sharp s, micro sign and digits have no capitals.
    std::string unchanged =
        "\xF7\xDF\xB5"
        "09;-";
    UpperCaseCp1252(unchanged);
    EXPECT_EQ(unchanged,
              "\xF7\xDF\xB5"
              "09;-");
}

TEST(Cp1252, LowerCaseIsTheInverseForLetters) {
    for (int byte = 0; byte < 256; ++byte) {
        const char c = static_cast<char>(byte);
        if (UpperCp1252(c) != c) {
            EXPECT_EQ(LowerCp1252(UpperCp1252(c)), c) << byte;
        }
    }
    EXPECT_EQ(LowerCp1252('\xD7'), '\xD7');  // multiplication sign
}

TEST(Cp1252, ConvertsToUtf8AndUtf16) {
    EXPECT_EQ(Cp1252ToUtf8("St\xE4ng \x80"), "St\xC3\xA4ng \xE2\x82\xAC");
    EXPECT_EQ(Cp1252ToUtf16("\xD6"
                            "A\x9F"),
              u"\u00D6A\u0178");
}

}  // namespace
}  // namespace vorlund
