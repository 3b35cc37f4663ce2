#include "variant_text.h"

namespace standin {

std::string Utf8(std::wstring_view text) {
    if (text.empty()) {
        return {};
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size,
                        nullptr, nullptr);
    return result;
}

std::wstring Wide(const std::string& text) {
    const int size = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring result(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, result.data(), size);
    result.resize(result.size() - 1);
    return result;
}

bool Coerce(const VARIANT& argument, VARTYPE type, VARIANT& converted) {
    VariantInit(&converted);
    VARIANT direct;
    VariantInit(&direct);
    if (FAILED(VariantCopyInd(&direct, const_cast<VARIANT*>(&argument)))) {
        return false;
    }
    const HRESULT hr = VariantChangeType(&converted, &direct, 0, type);
    VariantClear(&direct);
    return SUCCEEDED(hr);
}

std::string Describe(const VARIANT& argument) {
    VARIANT text;
    std::string value = "?";
    if (Coerce(argument, VT_BSTR, text)) {
        value = Utf8(text.bstrVal ? text.bstrVal : L"");
        VariantClear(&text);
    }
    return "vt=" + std::to_string(argument.vt) + " " + value;
}

}  // namespace standin
