// The DLL's own bookkeeping: its instance handle and the count of live objects
// and server locks that decides whether COM may unload it.
#pragma once

#include <windows.h>

namespace standin {

HINSTANCE ModuleInstance();
void ModuleAddRef();
void ModuleRelease();

}  // namespace standin
