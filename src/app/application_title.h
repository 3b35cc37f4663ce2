#pragma once

#include <string>
#include <string_view>

namespace vorlund {

// The executable's file name without its directory, cut at its first ".",
// every character after the first lower-cased (code page 1252):
// C:\Svc\DataSvc.exe gives "Datasvc". Both '\' and '/' end a directory.
std::string ApplicationTitle(std::string_view executablePath);

}  // namespace vorlund
