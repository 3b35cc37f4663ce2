// The service's conversion run with what an operator needs to know about it:
// one information line per delivery (bytes received, records, export file,
// time from the header to the export on disk) and the state "Senaste
// leverans ..."; on a failure, the file and the system's reason become the
// detail of the message the main window goes on to show.
#pragma once

#include "app/frm_main.h"
#include "app/posix/journal.h"
#include "app/posix/serial_neto_ctl.h"
#include "platform/platform.h"
#include "settings/service_settings.h"

namespace vorlund {

// The arguments must outlive the converter.
ReceivedFileConverter ReportingConverter(const ServiceSettings& settings, const Platform& platform,
                                         char decimalSeparator, const SerialNetoCtl& netoCtl,
                                         Journal& journal);

}  // namespace vorlund
