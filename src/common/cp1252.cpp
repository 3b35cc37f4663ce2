#include "common/cp1252.h"

#include <array>
#include <cstdint>

namespace vorlund {
namespace {

// The code points of bytes 0x80..0x9F; the rest of the page equals Latin-1.
// The five unassigned bytes map to the C1 controls, as Windows does.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char16_t CodePoint(unsigned char byte) {
    return byte >= 0x80 && byte <= 0x9F ? kHighControls[byte - 0x80] : char16_t{byte};
}

// The letters with a capital in the code page: ASCII, the accented Latin-1
// block except the multiplication and division signs, and four letters among
// 0x80..0x9F. Sharp s and the micro sign have none.
struct CaseTables {
    std::array<char, 256> upper{};
    std::array<char, 256> lower{};
};

constexpr CaseTables MakeCaseTables() {
    CaseTables tables;
    for (int byte = 0; byte < 256; ++byte) {
        tables.upper[byte] = tables.lower[byte] = static_cast<char>(byte);
    }
    auto pair = [&tables](int capital, int small) {
        tables.upper[small] = static_cast<char>(capital);
        tables.lower[capital] = static_cast<char>(small);
    };
    for (int small = 'a'; small <= 'z'; ++small)
        pair(small - 0x20, small);
    for (int small = 0xE0; small <= 0xFE; ++small) {
        if (small != 0xF7)
            pair(small - 0x20, small);
    }
    pair(0x8A, 0x9A);  // S caron
    pair(0x8C, 0x9C);  // OE
    pair(0x8E, 0x9E);  // Z caron
    pair(0x9F, 0xFF);  // Y diaeresis
    return tables;
}

constexpr CaseTables kCaseTables = MakeCaseTables();

}  // namespace

char UpperCp1252(char c) {
    return kCaseTables.upper[static_cast<unsigned char>(c)];
}

char LowerCp1252(char c) {
    return kCaseTables.lower[static_cast<unsigned char>(c)];
}

void UpperCaseCp1252(std::string& text) {
    for (char& c : text) {
        c = UpperCp1252(c);
    }
}

std::string Cp1252ToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const char16_t cp = CodePoint(static_cast<unsigned char>(c));
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

std::u16string Cp1252ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (char c : text) {
        out += CodePoint(static_cast<unsigned char>(c));
    }
    return out;
}

std::string Utf16ToCp1252(std::u16string_view text) {
    std::string bytes;
    bytes.reserve(text.size());
    for (const char16_t unit : text) {
        char byte = '?';
        if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) {
            byte = static_cast<char>(unit);
        } else {
            for (unsigned high = 0; high < kHighControls.size(); ++high) {
                if (kHighControls[high] == unit) {
                    byte = static_cast<char>(0x80 + high);
                }
            }
        }
        bytes.push_back(byte);
    }
    return bytes;
}

}  // namespace vorlund
