#include "app/win32/application_error.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>

#include "download/neto_control.h"

namespace vorlund {
namespace {

const void* Address(std::uintptr_t value) {
    return reinterpret_cast<const void*>(value);
}

TEST(ApplicationErrorTest, FillsClassModuleAddressAndMessageWithOneFinalPoint) {
    const std::string hex(2 * sizeof(void*) - 4, '0');
    EXPECT_EQ(ApplicationErrorText("ControlError", "Vorlund.exe", Address(0xAB12), "Klass saknas"),
              "Exception ControlError in module Vorlund.exe at " + hex + "AB12.\nKlass saknas.");
    EXPECT_EQ(ApplicationErrorText("E", "m.dll", Address(0xAB12), "Already ends."),
              "Exception E in module m.dll at " + hex + "AB12.\nAlready ends.");
    // An empty message gets no point of its own.
    EXPECT_EQ(ApplicationErrorText("E", "m.dll", Address(0xAB12), ""),
              "Exception E in module m.dll at " + hex + "AB12.\n");
}

TEST(ApplicationErrorTest, NamesTheExceptionClassWithoutItsNamespaces) {
    EXPECT_EQ(ExceptionClassName(ControlError("x")), "ControlError");
    EXPECT_EQ(ExceptionClassName(std::runtime_error("x")), "runtime_error");
}

}  // namespace
}  // namespace vorlund
