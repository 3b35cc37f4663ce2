// What a caller of the stand-in passed, as the text its log shows and as the
// type a member takes: callers pass the same argument in many forms (by
// value, by reference, as a number or as text).
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <string>
#include <string_view>

namespace standin {

std::string Utf8(std::wstring_view text);
// From the ANSI code page, as the scenario's paths are written.
std::wstring Wide(const std::string& text);

// The argument as a variant of `type`, whatever form the caller passed it in.
bool Coerce(const VARIANT& argument, VARTYPE type, VARIANT& converted);
// Its type and its value as text, for the log.
std::string Describe(const VARIANT& argument);

}  // namespace standin
