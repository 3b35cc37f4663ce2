#include "app/win32/com_error.h"

#include <gtest/gtest.h>
#include <olectl.h>

#include "download/neto_control.h"

namespace vorlund {
namespace {

TEST(ComErrorTest, PrefersTheComponentsOwnDescription) {
    EXCEPINFO exception{};
    exception.bstrDescription = SysAllocString(L"Ogiltigt v\u00e4rde\r\n");
    exception.scode = CTL_E_INVALIDPROPERTYVALUE;
    EXPECT_EQ(ComErrorMessage(DISP_E_EXCEPTION, &exception), "Ogiltigt v\xE4rde");
    SysFreeString(exception.bstrDescription);
}

HRESULT STDAPICALLTYPE FillInLate(EXCEPINFO* info) {
    info->bstrDescription = SysAllocString(L"Filled in late");
    return S_OK;
}

TEST(ComErrorTest, FillsInADeferredDescriptionFirst) {
    EXCEPINFO exception{};
    exception.pfnDeferredFillIn = FillInLate;
    EXPECT_EQ(ComErrorMessage(DISP_E_EXCEPTION, &exception), "Filled in late");
    SysFreeString(exception.bstrDescription);
}

TEST(ComErrorTest, FallsBackToTheSystemTextThenToTheCode) {
    const std::string outOfMemory = ComErrorMessage(E_OUTOFMEMORY, nullptr);
    EXPECT_FALSE(outOfMemory.empty());
    EXPECT_NE(outOfMemory.back(), '\n');
    EXPECT_EQ(ComErrorMessage(static_cast<HRESULT>(0xA0CDEF01), nullptr), "OLE error A0CDEF01");
}

TEST(ComErrorTest, ThrowsControlErrorAndFreesTheExceptionTexts) {
    EXCEPINFO exception{};
    exception.bstrSource = SysAllocString(L"source");
    exception.bstrDescription = SysAllocString(L"Invalid property value");
    try {
        ThrowComError(DISP_E_EXCEPTION, &exception);
        FAIL() << "no exception";
    } catch (const ControlError& error) {
        EXPECT_STREQ(error.what(), "Invalid property value");
    }
    EXPECT_EQ(exception.bstrSource, nullptr);
    EXPECT_EQ(exception.bstrDescription, nullptr);
}

}  // namespace
}  // namespace vorlund
