// The report of a failure that escapes the start-up, before any event loop
// runs: a task-modal box with no owner, captioned "Application Error".
#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace vorlund {

// "Exception <class> in module <module> at <address>.\n<message>" with "."
// added when the message is not empty and does not already end in one.
std::string ApplicationErrorText(std::string_view className, std::string_view moduleName,
                                 const void* address, std::string_view message);

// The exception's class name without its namespaces ("ControlError").
std::string ExceptionClassName(const std::exception& error);

// Shows the box for `error`, raised by the code at `address`, and returns once
// it is dismissed.
void ShowApplicationError(const std::exception& error, const void* address);

}  // namespace vorlund
