// The component-object runtime, single-threaded, for the lifetime of one
// object on the user-interface thread.
#pragma once

#include <objbase.h>

namespace vorlund {

class ComApartment {
  public:
    // A runtime that cannot start leaves creating the control to fail, which
    // reports it.
    ComApartment() : initialized_(SUCCEEDED(CoInitialize(nullptr))) {}
    ~ComApartment() {
        if (initialized_) {
            CoUninitialize();
        }
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

  private:
    bool initialized_;
};

}  // namespace vorlund
