#include "stand_in_control.h"

#include <olectl.h>

#include <array>
#include <string_view>

#include "crash.h"
#include "module.h"
#include "variant_text.h"

namespace standin {

const CLSID kControlClassId = {
    0x1983824D, 0xC89C, 0x11D5, {0xB1, 0x37, 0xA0, 0x14, 0x5D, 0xB9, 0xEC, 0x72}};
const IID kDefaultInterfaceId = {
    0x19328221, 0x57A1, 0x11D6, {0xB1, 0x38, 0xE5, 0x42, 0x8C, 0x7F, 0x41, 0x70}};
const IID kEventInterfaceId = {
    0x1983824E, 0xC89C, 0x11D5, {0xB1, 0x37, 0xA0, 0x14, 0x5D, 0xB9, 0xEC, 0x72}};

namespace {

constexpr wchar_t kWindowClass[] = L"VorlundNetoStandInWindow";

struct Member {
    std::wstring_view name;
    DISPID id;
};

constexpr std::array<Member, 12> kMembers = {{
    {L"COMport", 1},
    {L"Baudrate", 2},
    {L"Parity", 3},
    {L"ByteSize", 4},
    {L"StopBits", 5},
    {L"PollSpeed", 6},
    {L"PollTimeout", 7},
    {L"RxTxDelay", 8},
    {L"IrDADevice", 9},
    {L"Download", kDownloadId},
    {L"StopRunning", kStopRunningId},
    {L"IsProtocolRunning", kIsProtocolRunningId},
}};

// A result that reads as no number, which says when it is freed: a caller
// that fails to read it must still release it.
class OddResult final : public IUnknown {
  public:
    explicit OddResult(CallLog log) : log_(std::move(log)) {}
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IUnknown) {
            *object = this;
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&references_); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0) {
            log_.Write("result released");
            delete this;
        }
        return static_cast<ULONG>(left);
    }

  private:
    LONG references_ = 1;
    CallLog log_;
};

struct WindowSearch {
    std::string className;
    bool found;
};

BOOL CALLBACK MatchOwnWindow(HWND window, LPARAM state) {
    auto& search = *reinterpret_cast<WindowSearch*>(state);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char name[128] = {};
    GetClassNameA(window, name, sizeof name);
    if (process == GetCurrentProcessId() && search.className == name) {
        search.found = true;
        return FALSE;
    }
    return TRUE;
}

// Whether the process that hosts the stand-in has a top-level window of
// that class.
bool WindowOfThisProcess(const std::string& className) {
    WindowSearch search{className, false};
    EnumWindows(MatchOwnWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace

StandInControl::StandInControl(Scenario scenario, CallLog log)
    : scenario_(std::move(scenario)), log_(std::move(log)) {
    ModuleAddRef();
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = ModuleInstance();
    windowClass.lpszClassName = kWindowClass;
    RegisterClassW(&windowClass);  // fails harmlessly for every object but the first
    window_ = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              ModuleInstance(), this);
    log_.Write("create");
}

StandInControl::~StandInControl() {
    CancelReactions();
    if (window_) {
        DestroyWindow(window_);
    }
    for (auto& [cookie, sink] : sinks_) {
        sink->Release();
    }
    if (site_) {
        site_->Release();
    }
    log_.Write("release");
    ModuleRelease();
}

LRESULT CALLBACK StandInControl::WindowProc(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<StandInControl*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_TIMER && self) {
        self->React(wParam);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

STDMETHODIMP StandInControl::QueryInterface(REFIID iid, void** object) {
    if (!object) {
        return E_POINTER;
    }
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == kDefaultInterfaceId) {
        *object = static_cast<IDispatch*>(this);
    } else if (iid == IID_IOleObject) {
        *object = static_cast<IOleObject*>(this);
    } else if (iid == IID_IPersistStreamInit) {
        *object = static_cast<IPersistStreamInit*>(this);
    } else if (iid == IID_IConnectionPointContainer) {
        *object = static_cast<IConnectionPointContainer*>(this);
    } else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) StandInControl::AddRef() {
    return InterlockedIncrement(&references_);
}

STDMETHODIMP_(ULONG) StandInControl::Release() {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) {
        delete this;
    }
    return static_cast<ULONG>(left);
}

STDMETHODIMP StandInControl::GetTypeInfoCount(UINT* count) {
    *count = 0;
    return S_OK;
}

STDMETHODIMP StandInControl::GetTypeInfo(UINT, LCID, ITypeInfo**) {
    return E_NOTIMPL;
}

STDMETHODIMP StandInControl::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    HRESULT hr = S_OK;
    for (UINT i = 0; i < count; ++i) {
        ids[i] = DISPID_UNKNOWN;
        for (const Member& member : kMembers) {
            if (_wcsicmp(names[i], member.name.data()) == 0) {
                ids[i] = member.id;
            }
        }
        if (ids[i] == DISPID_UNKNOWN) {
            hr = DISP_E_UNKNOWNNAME;
        }
        log_.Write("GetIDsOfNames " + Utf8(names[i]) + " -> " + std::to_string(ids[i]));
    }
    return hr;
}

STDMETHODIMP StandInControl::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                    VARIANT* result, EXCEPINFO* exception, UINT*) {
    if (!params) {
        return E_INVALIDARG;
    }
    if (id >= 1 && id <= 9) {
        if (flags != DISPATCH_PROPERTYPUT) {
            log_.Write("property " + std::to_string(id) + " not written with PROPERTYPUT");
            return DISP_E_MEMBERNOTFOUND;
        }
        return PutProperty(id, *params, exception);
    }
    if (!(flags & DISPATCH_METHOD)) {
        log_.Write("method " + std::to_string(id) + " not called as a method");
        return DISP_E_MEMBERNOTFOUND;
    }
    if (id == kDownloadId) {
        return CallDownload(*params, result);
    }
    if (id == kStopRunningId) {
        log_.Write("StopRunning");
        running_ = false;
        CancelReactions();
        return S_OK;
    }
    if (id == kIsProtocolRunningId) {
        const bool running = Running();
        log_.Write("IsProtocolRunning -> " + std::to_string(running ? 1 : 0));
        if (result) {
            VariantInit(result);
            result->vt = VT_I2;
            result->iVal = running ? 1 : 0;
        }
        return S_OK;
    }
    log_.Write("Invoke unknown " + std::to_string(id));
    return DISP_E_MEMBERNOTFOUND;
}

HRESULT StandInControl::PutProperty(DISPID id, const DISPPARAMS& params, EXCEPINFO* exception) {
    if (params.cArgs != 1 || params.cNamedArgs != 1 ||
        params.rgdispidNamedArgs[0] != DISPID_PROPERTYPUT) {
        log_.Write("put " + std::to_string(id) + " without the one named argument");
        return DISP_E_PARAMNOTOPTIONAL;
    }
    const VARIANT& value = params.rgvarg[0];
    if (scenario_.refusedProperties.count(id) != 0) {
        log_.Write("put " + std::to_string(id) + " " + Describe(value) + " refused");
        if (exception) {
            *exception = EXCEPINFO{};
            exception->bstrSource = SysAllocString(L"NetO stand-in");
            exception->bstrDescription = SysAllocString(L"Invalid property value");
            exception->scode = CTL_E_INVALIDPROPERTYVALUE;
        }
        return DISP_E_EXCEPTION;
    }
    log_.Write("put " + std::to_string(id) + " " + Describe(value));
    VARIANT port;
    if (id == 1 && Coerce(value, VT_I2, port)) {
        comPort_ = port.iVal;
    }
    return S_OK;
}

HRESULT StandInControl::CallDownload(const DISPPARAMS& params, VARIANT* result) {
    const int call = ++downloadCalls_;
    if (params.cArgs != 3 || params.cNamedArgs != 0) {
        log_.Write("Download with " + std::to_string(params.cArgs) + " arguments");
        return DISP_E_BADPARAMCOUNT;
    }
    // Arguments arrive last first.
    const VARIANT& id = params.rgvarg[2];
    const VARIANT& rcvDir = params.rgvarg[1];
    const VARIANT& downType = params.rgvarg[0];
    std::string line = "Download " + std::to_string(call) + " id " + Describe(id) + " dir " +
                       Describe(rcvDir) + " type " + Describe(downType);
    if (scenario_.refusedDownloads.count(call) != 0) {
        log_.Write(line + " -> failed");
        return E_FAIL;
    }
    const auto answer = scenario_.downloadStatus.find(call);
    const std::int16_t status = answer == scenario_.downloadStatus.end() ? 0 : answer->second;
    if (result && scenario_.oddResults.count(call) != 0) {
        log_.Write(line + " -> object");
        VariantInit(result);
        result->vt = VT_UNKNOWN;
        result->punkVal = new OddResult(log_);
        return S_OK;
    }
    log_.Write(line + " -> " + std::to_string(status));
    if (result) {
        VariantInit(result);
        result->vt = VT_I2;
        result->iVal = status;
    }
    if (status < 0) {
        return S_OK;
    }
    running_ = true;
    VARIANT directory;
    const std::wstring dir =
        Coerce(rcvDir, VT_BSTR, directory) && directory.bstrVal ? directory.bstrVal : L"";
    VariantClear(&directory);
    for (const Reaction& reaction : scenario_.reactions) {
        if (reaction.afterDownload == call) {
            const UINT_PTR timerId = nextTimerId_++;
            pending_[timerId] = PendingReaction{reaction, dir};
            SetTimer(window_, timerId, reaction.delayMs, nullptr);
        }
    }
    return S_OK;
}

void StandInControl::React(UINT_PTR timerId) {
    KillTimer(window_, timerId);
    const auto found = pending_.find(timerId);
    if (found == pending_.end()) {
        return;
    }
    const PendingReaction pending = found->second;
    pending_.erase(found);
    const Reaction& reaction = pending.reaction;
    if (reaction.kind == Reaction::Kind::kDeliver) {
        const std::wstring target = pending.rcvDir + L"\\X.DAT";
        const bool copied = CopyFileW(Wide(reaction.source).c_str(), target.c_str(), FALSE);
        log_.Write(std::string("deliver ") + (copied ? "ok" : "failed"));
        if (scenario_.crashAt == CrashPoint::kArrival) {
            CrashNow(log_, "arrival");
        }
        if (scenario_.crashAt == CrashPoint::kConversion) {
            CrashAtConversion(log_);
        }
    } else if (reaction.code == 30) {
        running_ = false;  // the port could not be opened: the protocol has ended
    }
    RaiseProtocolMessage(reaction.code, reaction.final);
}

void StandInControl::RaiseProtocolMessage(std::int16_t code, std::int16_t final) {
    AddRef();  // the handler may release the service's last reference
    std::vector<IDispatch*> sinks;
    for (auto& [cookie, sink] : sinks_) {
        sink->AddRef();
        sinks.push_back(sink);
    }
    log_.Write("event " + std::to_string(code) + " begin");
    std::int16_t codeValue = code;
    BSTR message = SysAllocString(L"stand-in message");
    std::int16_t finalValue = final;
    std::int16_t portValue = comPort_;
    // Arguments last first: COMport, final, strMessage, msgCode[, Sender].
    std::array<VARIANT, 5> arguments{};
    for (VARIANT& argument : arguments) {
        VariantInit(&argument);
    }
    IDispatch* sender = this;
    if (scenario_.byReference) {
        arguments[3].vt = VT_I2 | VT_BYREF;
        arguments[3].piVal = &codeValue;
        arguments[2].vt = VT_BSTR | VT_BYREF;
        arguments[2].pbstrVal = &message;
        arguments[1].vt = VT_I2 | VT_BYREF;
        arguments[1].piVal = &finalValue;
        arguments[0].vt = VT_I2 | VT_BYREF;
        arguments[0].piVal = &portValue;
        arguments[4].vt = VT_DISPATCH | VT_BYREF;
        arguments[4].ppdispVal = &sender;
    } else {
        arguments[3].vt = VT_I2;
        arguments[3].iVal = codeValue;
        arguments[2].vt = VT_BSTR;
        arguments[2].bstrVal = message;
        arguments[1].vt = VT_I2;
        arguments[1].iVal = finalValue;
        arguments[0].vt = VT_I2;
        arguments[0].iVal = portValue;
        arguments[4].vt = VT_DISPATCH;
        arguments[4].pdispVal = sender;
    }
    DISPPARAMS params{arguments.data(), nullptr, scenario_.withSender ? 5U : 4U, 0};
    for (IDispatch* sink : sinks) {
        const HRESULT hr = sink->Invoke(kOnProtocolMessageId, IID_NULL, LOCALE_USER_DEFAULT,
                                        DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
        log_.Write("event " + std::to_string(code) + " end hr=" + std::to_string(hr));
        sink->Release();
    }
    SysFreeString(message);
    Release();
}

void StandInControl::CancelReactions() {
    for (const auto& [timerId, pending] : pending_) {
        KillTimer(window_, timerId);
    }
    pending_.clear();
}

bool StandInControl::Running() const {
    return scenario_.runningAnswer < 0 ? running_ : scenario_.runningAnswer != 0;
}

STDMETHODIMP StandInControl::Close(DWORD saveOption) {
    log_.Write("Close " + std::to_string(saveOption));
    if (!scenario_.watchedWindow.empty()) {
        log_.Write(scenario_.watchedWindow +
                   (WindowOfThisProcess(scenario_.watchedWindow) ? " present" : " absent"));
    }
    return S_OK;
}

}  // namespace standin
