// Code page 1252, the single-byte text of every file and message the service
// handles. Our own tables, so results never depend on the C library's locale.
#pragma once

#include <string>
#include <string_view>

namespace vorlund {

char UpperCp1252(char c);
char LowerCp1252(char c);
void UpperCaseCp1252(std::string& text);

std::string Cp1252ToUtf8(std::string_view text);
std::u16string Cp1252ToUtf16(std::string_view text);
// The way back; a character the code page lacks becomes '?'.
std::string Utf16ToCp1252(std::u16string_view text);

}  // namespace vorlund
