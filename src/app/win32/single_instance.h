// One running copy per application directory. Two copies in one directory
// would share Vorlund.ini, Spool and the COM port: the second could never
// open the port and would report so forever. Copies in different
// directories (two terminals on two ports) run side by side.
#pragma once

#include <string>
#include <string_view>

#include "platform/win32/unique_handle.h"

namespace vorlund {

class SingleInstance {
  public:
    // Claims the directory of this executable for this process, for as long
    // as the object lives.
    SingleInstance();

    // Another process holds the claim: this one must not start the service.
    bool AnotherIsRunning() const { return anotherIsRunning_; }

  private:
    UniqueHandle claim_;
    bool anotherIsRunning_ = false;
};

// The name of the claim on `directory`: the same for every spelling of one
// directory (letter case, short names), in the machine-wide namespace so that
// a copy started in another logon session is seen too.
std::wstring InstanceClaimName(std::wstring_view directory);

}  // namespace vorlund
