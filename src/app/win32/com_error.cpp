#include "app/win32/com_error.h"

#include <cstdio>
#include <stdexcept>

#include "download/neto_control.h"

namespace vorlund {
namespace {

std::string TrimEnd(std::string text) {
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

std::string SystemMessage(HRESULT result) {
    char* buffer = nullptr;
    const DWORD size = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(result), 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
    std::string text = size > 0 ? TrimEnd(std::string(buffer, size)) : std::string();
    LocalFree(buffer);
    return text;
}

}  // namespace

std::string AnsiText(std::wstring_view text) {
    if (text.empty()) {
        return {};
    }
    const int length = static_cast<int>(text.size());
    const int size =
        WideCharToMultiByte(CP_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), length, result.data(), size, nullptr, nullptr);
    return result;
}

std::string ComErrorMessage(HRESULT result, EXCEPINFO* exception) {
    if (result == DISP_E_EXCEPTION && exception) {
        if (exception->pfnDeferredFillIn) {
            exception->pfnDeferredFillIn(exception);
        }
        if (exception->bstrDescription && exception->bstrDescription[0] != L'\0') {
            return TrimEnd(AnsiText(exception->bstrDescription));
        }
        if (FAILED(exception->scode)) {
            result = exception->scode;
        }
    }
    std::string text = SystemMessage(result);
    if (text.empty()) {
        char code[32];
        std::snprintf(code, sizeof code, "OLE error %08lX", static_cast<unsigned long>(result));
        text = code;
    }
    return text;
}

void ThrowComError(HRESULT result, EXCEPINFO* exception) {
    std::string message = ComErrorMessage(result, exception);
    if (exception) {
        SysFreeString(exception->bstrSource);
        SysFreeString(exception->bstrDescription);
        SysFreeString(exception->bstrHelpFile);
        *exception = EXCEPINFO{};
    }
    throw ControlError(message);
}

void ThrowLastError() {
    const DWORD code = GetLastError();
    // Some failures set no code; "Success" would be a confusing report.
    const HRESULT result = code == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(code);
    throw std::runtime_error(ComErrorMessage(result, nullptr));
}

}  // namespace vorlund
