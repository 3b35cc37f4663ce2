#include "app/event_boundary.h"

#include <exception>
#include <utility>

namespace vorlund {
namespace {

std::string MessageOf(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
        return "Unknown exception";
    }
}

}  // namespace

std::string FailureText(std::string_view message) {
    std::string text(message);
    if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') {
        text += '.';
    }
    return text;
}

EventBoundary::EventBoundary(Shell& shell, std::string caption)
    : shell_(shell), caption_(std::move(caption)) {}

void EventBoundary::Deliver(const std::function<void()>& handler) noexcept {
    std::exception_ptr failure;
    try {
        handler();
        return;
    } catch (...) {
        failure = std::current_exception();
    }
    // The box runs a nested event loop, so it is shown outside the catch. If
    // even the report fails (no memory left for its text, say) there is no
    // one left to tell, and the event loop must go on regardless.
    try {
        shell_.ShowFailureBox(caption_, FailureText(MessageOf(failure)));
    } catch (...) {
    }
}

}  // namespace vorlund
