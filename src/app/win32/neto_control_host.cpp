#include "app/win32/neto_control_host.h"

#include <oleauto.h>
#include <olectl.h>

#include <array>
#include <utility>

#include "app/win32/com_error.h"

namespace vorlund {

const CLSID kNetoControlClassId = {
    0x1983824D, 0xC89C, 0x11D5, {0xB1, 0x37, 0xA0, 0x14, 0x5D, 0xB9, 0xEC, 0x72}};
const IID kNetoEventInterfaceId = {
    0x1983824E, 0xC89C, 0x11D5, {0xB1, 0x37, 0xA0, 0x14, 0x5D, 0xB9, 0xEC, 0x72}};

namespace {

enum PropertyId : DISPID {
    kCOMport = 1,
    kBaudrate = 2,
    kParity = 3,
    kByteSize = 4,
    kStopBits = 5,
    kPollSpeed = 6,
    kPollTimeout = 7,
    kRxTxDelay = 8,
    kIrDADevice = 9,
};

constexpr DISPID kOnProtocolMessage = 3;

// One VARIANT that clears itself.
class Variant {
  public:
    Variant() { VariantInit(&value_); }
    ~Variant() { VariantClear(&value_); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    VARIANT* Get() { return &value_; }
    const VARIANT& operator*() const { return value_; }

  private:
    VARIANT value_;
};

// An argument in whatever form the sender chose (by value or by reference,
// any type that converts) as `type`; false when it does not convert.
bool ReadArgument(const VARIANT& argument, VARTYPE type, Variant& converted) {
    Variant direct;
    if (FAILED(VariantCopyInd(direct.Get(), const_cast<VARIANT*>(&argument)))) {
        return false;
    }
    return SUCCEEDED(VariantChangeType(converted.Get(), direct.Get(), 0, type));
}

// An event whose first argument is an object: the control itself, as Sender.
bool PassesSender(const DISPPARAMS& params) {
    if (params.cArgs < 5) {
        return false;
    }
    const VARTYPE type = params.rgvarg[params.cArgs - 1].vt & VT_TYPEMASK;
    return type == VT_DISPATCH || type == VT_UNKNOWN;
}

VARIANT ShortValue(std::int16_t value) {
    VARIANT variant;
    VariantInit(&variant);
    variant.vt = VT_I2;
    variant.iVal = value;
    return variant;
}

VARIANT LongValue(std::int32_t value) {
    VARIANT variant;
    VariantInit(&variant);
    variant.vt = VT_I4;
    variant.lVal = value;
    return variant;
}

std::int16_t ShortResult(const VARIANT& result) {
    Variant converted;
    if (!ReadArgument(result, VT_I2, converted)) {
        ThrowComError(DISP_E_TYPEMISMATCH);
    }
    return (*converted).iVal;
}

// A BSTR that frees itself.
class BString {
  public:
    explicit BString(const std::u16string& text)
        : value_(SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()),
                                   static_cast<UINT>(text.size()))) {
        if (!value_) {
            ThrowComError(E_OUTOFMEMORY);
        }
    }
    ~BString() { SysFreeString(value_); }
    BString(const BString&) = delete;
    BString& operator=(const BString&) = delete;
    BSTR Get() const { return value_; }

  private:
    BSTR value_;
};

}  // namespace

NetoControlHost::NetoControlHost() {
    try {
        Create();
    } catch (...) {
        Destroy();
        throw;
    }
}

NetoControlHost::~NetoControlHost() {
    Destroy();
}

void NetoControlHost::Create() {
    HRESULT hr = CoCreateInstance(kNetoControlClassId, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IOleObject, object_.ReceiveVoid());
    if (FAILED(hr)) {
        ThrowComError(hr);
    }
    DWORD misc = 0;
    if (FAILED(object_->GetMiscStatus(DVASPECT_CONTENT, &misc))) {
        misc = 0;
    }
    const bool siteFirst = (misc & OLEMISC_SETCLIENTSITEFIRST) != 0;
    if (siteFirst) {
        hr = object_->SetClientSite(&site_);
        if (FAILED(hr)) {
            ThrowComError(hr);
        }
        sited_ = true;
    }
    ComPtr<IPersistStreamInit> persist;
    if (SUCCEEDED(object_->QueryInterface(IID_IPersistStreamInit, persist.ReceiveVoid()))) {
        hr = persist->InitNew();
        if (FAILED(hr)) {
            ThrowComError(hr);
        }
    }
    if (!siteFirst) {
        hr = object_->SetClientSite(&site_);
        if (FAILED(hr)) {
            ThrowComError(hr);
        }
        sited_ = true;
    }
    hr = object_->QueryInterface(IID_IDispatch, dispatch_.ReceiveVoid());
    if (FAILED(hr)) {
        ThrowComError(hr);
    }
    ComPtr<IConnectionPointContainer> container;
    hr = object_->QueryInterface(IID_IConnectionPointContainer, container.ReceiveVoid());
    if (SUCCEEDED(hr)) {
        hr = container->FindConnectionPoint(kNetoEventInterfaceId, eventPoint_.Receive());
    }
    if (SUCCEEDED(hr)) {
        hr = eventPoint_->Advise(&sink_, &cookie_);
    }
    if (FAILED(hr)) {
        eventPoint_.Reset();
        ThrowComError(hr);
    }
}

void NetoControlHost::Destroy() noexcept {
    if (eventPoint_) {
        eventPoint_->Unadvise(cookie_);
        eventPoint_.Reset();
    }
    dispatch_.Reset();
    if (object_) {
        if (sited_) {
            object_->SetClientSite(nullptr);
            sited_ = false;
        }
        object_->Close(OLECLOSE_NOSAVE);
        object_.Reset();
    }
}

void NetoControlHost::CloseControl() {
    // Taken out of the main window's children. The component was never
    // activated in place, so it has no window to destroy here; it stays
    // allocated until the teardown releases it.
    attached_ = false;
}

IDispatch& NetoControlHost::Dispatch() const {
    if (!dispatch_) {
        ThrowComError(E_UNEXPECTED);
    }
    return *dispatch_.Get();
}

void NetoControlHost::PutProperty(DISPID id, VARIANT value) {
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{&value, &named, 1, 1};
    EXCEPINFO exception{};
    const HRESULT hr = Dispatch().Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT,
                                         &params, nullptr, &exception, nullptr);
    if (FAILED(hr)) {
        ThrowComError(hr, &exception);
    }
}

void NetoControlHost::CallMethod(DISPID& cachedId, const wchar_t* name, DISPPARAMS& params,
                                 VARIANT* result) {
    IDispatch& dispatch = Dispatch();
    if (cachedId == DISPID_UNKNOWN) {
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        DISPID id = DISPID_UNKNOWN;
        const HRESULT hr = dispatch.GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
        if (FAILED(hr)) {
            ThrowComError(hr);
        }
        cachedId = id;
    }
    EXCEPINFO exception{};
    const HRESULT hr = dispatch.Invoke(cachedId, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                                       &params, result, &exception, nullptr);
    if (FAILED(hr)) {
        ThrowComError(hr, &exception);
    }
}

void NetoControlHost::SetCOMport(std::int16_t value) {
    PutProperty(kCOMport, ShortValue(value));
}

void NetoControlHost::SetBaudrate(std::int32_t value) {
    PutProperty(kBaudrate, LongValue(value));
}

void NetoControlHost::SetParity(std::int16_t value) {
    PutProperty(kParity, ShortValue(value));
}

void NetoControlHost::SetByteSize(std::int16_t value) {
    PutProperty(kByteSize, ShortValue(value));
}

void NetoControlHost::SetStopBits(std::int16_t value) {
    PutProperty(kStopBits, ShortValue(value));
}

void NetoControlHost::SetPollSpeed(std::int32_t value) {
    PutProperty(kPollSpeed, LongValue(value));
}

void NetoControlHost::SetPollTimeout(std::int32_t value) {
    PutProperty(kPollTimeout, LongValue(value));
}

void NetoControlHost::SetRxTxDelay(std::int32_t value) {
    PutProperty(kRxTxDelay, LongValue(value));
}

void NetoControlHost::SetIrDADevice(std::int32_t value) {
    PutProperty(kIrDADevice, LongValue(value));
}

std::int16_t NetoControlHost::Download(const std::u16string& id, const std::u16string& RcvDir,
                                       std::int32_t downType) {
    const BString idText(id);
    const BString directory(RcvDir);
    // Arguments go last first.
    std::array<VARIANT, 3> arguments{};
    arguments[2].vt = VT_BSTR;
    arguments[2].bstrVal = idText.Get();
    arguments[1].vt = VT_BSTR;
    arguments[1].bstrVal = directory.Get();
    arguments[0] = LongValue(downType);
    DISPPARAMS params{arguments.data(), nullptr, 3, 0};
    // Cleared however the reading ends: an answer of the wrong type can
    // hold a string or an object.
    Variant result;
    CallMethod(downloadId_, L"Download", params, result.Get());
    return ShortResult(*result);
}

void NetoControlHost::StopRunning() {
    DISPPARAMS params{nullptr, nullptr, 0, 0};
    Variant result;
    CallMethod(stopRunningId_, L"StopRunning", params, result.Get());
}

std::int16_t NetoControlHost::IsProtocolRunning() {
    DISPPARAMS params{nullptr, nullptr, 0, 0};
    Variant result;
    CallMethod(isProtocolRunningId_, L"IsProtocolRunning", params, result.Get());
    return ShortResult(*result);
}

STDMETHODIMP NetoControlHost::ClientSite::QueryInterface(REFIID iid, void** object) {
    if (iid == IID_IUnknown || iid == IID_IOleClientSite) {
        *object = static_cast<IOleClientSite*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP NetoControlHost::ClientSite::GetContainer(IOleContainer** container) {
    *container = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP NetoControlHost::EventSink::QueryInterface(REFIID iid, void** object) {
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == kNetoEventInterfaceId) {
        *object = static_cast<IDispatch*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP NetoControlHost::EventSink::GetTypeInfoCount(UINT* count) {
    *count = 0;
    return S_OK;
}

STDMETHODIMP NetoControlHost::EventSink::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID* ids) {
    ids[0] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
}

STDMETHODIMP NetoControlHost::EventSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params,
                                                VARIANT*, EXCEPINFO*, UINT*) {
    // OnShowPoll (1) and OnProgress (2) mean nothing to the service.
    if (id != kOnProtocolMessage || !params || params->cArgs < 1) {
        return S_OK;
    }
    // Arguments arrive last first. The control may pass itself first, as
    // Sender, among them (five arguments) or not (four): msgCode is then the
    // next-to-highest index or the highest.
    const UINT count = params->cArgs - (PassesSender(*params) ? 1 : 0);
    const auto argument = [&](UINT position) -> const VARIANT* {
        return position < count ? &params->rgvarg[count - 1 - position] : nullptr;
    };
    ProtocolMessage message;
    Variant code;
    if (!ReadArgument(*argument(0), VT_I2, code)) {
        return DISP_E_TYPEMISMATCH;
    }
    message.msgCode = (*code).iVal;
    Variant text;
    if (argument(1) && ReadArgument(*argument(1), VT_BSTR, text)) {
        const BSTR bstr = (*text).bstrVal;
        message.strMessage.assign(reinterpret_cast<const char16_t*>(bstr ? bstr : L""),
                                  SysStringLen(bstr));
    }
    Variant final;
    if (argument(2) && ReadArgument(*argument(2), VT_I2, final)) {
        message.final = (*final).iVal;
    }
    Variant port;
    if (argument(3) && ReadArgument(*argument(3), VT_I2, port)) {
        message.COMport = (*port).iVal;
    }
    // The handler reports its own failures; nothing may unwind into the
    // component, which waits for this call to return.
    try {
        owner_.RaiseProtocolMessage(message);
    } catch (...) {
    }
    return S_OK;
}

}  // namespace vorlund
