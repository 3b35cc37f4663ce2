// Where a running service cannot be asked (Windows): the command settles
// only once the program is closed, which the ledger's sharing tells.
#include "app/convert/service_request.h"

namespace vorlund {

Result<SettleReply> AskServiceToSettle(const std::string&, const std::string&) {
    return Failure{"a running Vorlund cannot be asked on this system: close it first"};
}

}  // namespace vorlund
