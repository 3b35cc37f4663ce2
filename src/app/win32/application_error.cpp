#include "app/win32/application_error.h"

#include <windows.h>

#include <cxxabi.h>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <typeinfo>

namespace vorlund {
namespace {

std::string ModuleNameAt(const void* address) {
    HMODULE module = nullptr;
    GetModuleHandleExA(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        static_cast<const char*>(address), &module);
    char path[MAX_PATH] = {};
    const DWORD size = GetModuleFileNameA(module, path, MAX_PATH);
    const std::string full(path, size < MAX_PATH ? size : 0);
    const std::size_t slash = full.find_last_of("\\/");
    return slash == std::string::npos ? full : full.substr(slash + 1);
}

}  // namespace

std::string ApplicationErrorText(std::string_view className, std::string_view moduleName,
                                 const void* address, std::string_view message) {
    // The address in as many upper-case hex digits as a pointer has: eight
    // in the 32-bit release.
    const auto value = reinterpret_cast<std::uintptr_t>(address);
    std::string hex;
    for (int shift = 8 * static_cast<int>(sizeof value) - 4; shift >= 0; shift -= 4) {
        hex += "0123456789ABCDEF"[(value >> shift) & 0xF];
    }
    std::string text = "Exception ";
    text.append(className).append(" in module ").append(moduleName).append(" at ");
    text.append(hex).append(".\n").append(message);
    if (!message.empty() && message.back() != '.') {
        text += '.';
    }
    return text;
}

std::string ExceptionClassName(const std::exception& error) {
    const char* mangled = typeid(error).name();
    int status = 0;
    const std::unique_ptr<char, decltype(&std::free)> demangled(
        abi::__cxa_demangle(mangled, nullptr, nullptr, &status), &std::free);
    const std::string name = status == 0 && demangled ? demangled.get() : mangled;
    const std::size_t colon = name.rfind("::");
    return colon == std::string::npos ? name : name.substr(colon + 2);
}

void ShowApplicationError(const std::exception& error, const void* address) {
    const std::string text = ApplicationErrorText(ExceptionClassName(error), ModuleNameAt(address),
                                                  address, error.what());
    MessageBoxA(nullptr, text.c_str(), "Application Error", MB_TASKMODAL | MB_ICONSTOP);
}

}  // namespace vorlund
