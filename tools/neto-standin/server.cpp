// The in-process server around the stand-in: class factory, unload test and a
// registration for throwaway Wine prefixes.
#include <windows.h>

#include <olectl.h>

#include <fstream>
#include <sstream>
#include <string>

#include "module.h"
#include "stand_in_control.h"

namespace standin {
namespace {

struct ModuleState {
    HINSTANCE instance = nullptr;
    LONG users = 0;  // live objects plus server locks
};

ModuleState& State() {
    static ModuleState state;
    return state;
}

constexpr char kClassKey[] = "Software\\Classes\\CLSID\\{1983824D-C89C-11D5-B137-A0145DB9EC72}";

std::string Environment(const char* name) {
    char value[MAX_PATH * 2];
    const DWORD size = GetEnvironmentVariableA(name, value, sizeof value);
    return size > 0 && size < sizeof value ? std::string(value, size) : std::string();
}

Scenario LoadScenario(const CallLog& log) {
    Scenario scenario;
    const std::string path = Environment("VORLUND_STANDIN_SCENARIO");
    if (path.empty()) {
        return scenario;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        log.Write("scenario missing " + path);
        return scenario;
    }
    std::ostringstream text;
    text << file.rdbuf();
    int badLine = 0;
    if (!ParseScenario(text.str(), scenario, badLine)) {
        log.Write("scenario error line " + std::to_string(badLine));
    }
    return scenario;
}

class ClassFactory final : public IClassFactory {
  public:
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *object = this;
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    // The factory is static; it keeps the module loaded only through locks.
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        *object = nullptr;
        if (outer) {
            return CLASS_E_NOAGGREGATION;
        }
        CallLog log(Environment("VORLUND_STANDIN_LOG"));
        auto* control = new StandInControl(LoadScenario(log), log);
        const HRESULT hr = control->QueryInterface(iid, object);
        control->Release();
        return hr;
    }

    STDMETHODIMP LockServer(BOOL lock) override {
        lock ? ModuleAddRef() : ModuleRelease();
        return S_OK;
    }
};

bool SetValue(HKEY root, const std::string& key, const char* name, const std::string& value) {
    HKEY handle = nullptr;
    if (RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr) !=
        ERROR_SUCCESS) {
        return false;
    }
    const LONG status =
        RegSetValueExA(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>(value.size() + 1));
    RegCloseKey(handle);
    return status == ERROR_SUCCESS;
}

}  // namespace

HINSTANCE ModuleInstance() {
    return State().instance;
}
void ModuleAddRef() {
    InterlockedIncrement(&State().users);
}
void ModuleRelease() {
    InterlockedDecrement(&State().users);
}

}  // namespace standin

using namespace standin;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        State().instance = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID classId, REFIID iid, LPVOID* object) {
    static ClassFactory factory;
    if (classId != kControlClassId) {
        *object = nullptr;
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return factory.QueryInterface(iid, object);
}

STDAPI DllCanUnloadNow() {
    return State().users == 0 ? S_OK : S_FALSE;
}

// Per user, where Windows looks first; and in the machine's classes as well
// where that is allowed, because Wine's class lookup reads only those. The
// stand-in is registered only in throwaway prefixes, so that costs nothing.
STDAPI DllRegisterServer() {
    char path[MAX_PATH];
    const DWORD size = GetModuleFileNameA(ModuleInstance(), path, MAX_PATH);
    if (size == 0 || size == MAX_PATH) {
        return SELFREG_E_CLASS;
    }
    const std::string server = std::string(kClassKey) + "\\InprocServer32";
    const auto registerIn = [&](HKEY root) {
        return SetValue(root, kClassKey, nullptr, "NetO stand-in (tests only)") &&
               SetValue(root, server, nullptr, path) &&
               SetValue(root, server, "ThreadingModel", "Apartment");
    };
    const bool perUser = registerIn(HKEY_CURRENT_USER);
    registerIn(HKEY_LOCAL_MACHINE);
    return perUser ? S_OK : SELFREG_E_CLASS;
}

STDAPI DllUnregisterServer() {
    LONG status = ERROR_SUCCESS;
    for (const HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        const LONG removed = RegDeleteTreeA(root, kClassKey);
        if (removed != ERROR_SUCCESS && removed != ERROR_FILE_NOT_FOUND) {
            status = removed;
        }
    }
    return status == ERROR_SUCCESS ? S_OK : SELFREG_E_CLASS;
}
