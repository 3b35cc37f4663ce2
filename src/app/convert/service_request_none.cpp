// Windows: the converter claims no application directory there, so it cannot
// tell whether Vorlund.exe works in one, nor keep it from starting: it does
// not settle, and the operator converts a kept file by hand with Vorlund
// closed.
#include "app/convert/service_request.h"

namespace vorlund {

bool CanSettleHere() {
    return false;
}

Result<SettleReply> AskServiceToSettle(const std::string&, const std::string&) {
    return Failure{"a running Vorlund cannot be asked on this system"};
}

}  // namespace vorlund
