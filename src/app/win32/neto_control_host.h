// NetoCtl1 on Windows: the terminal-download component created in process
// and reached through late-bound dispatch calls. The main window is never
// shown, so the component is sited but never activated and never gets a
// window of its own.
#pragma once

#include <windows.h>

#include <ocidl.h>
#include <oleidl.h>

#include <string_view>

#include "app/win32/com_ptr.h"
#include "download/neto_control.h"

namespace vorlund {

extern const CLSID kNetoControlClassId;
extern const IID kNetoEventInterfaceId;

class NetoControlHost final : public TNetoCtl {
  public:
    // Creates, sites, initialises and connects the component; throws
    // ControlError when any step fails (not installed, for instance).
    NetoControlHost();
    ~NetoControlHost() override;
    NetoControlHost(const NetoControlHost&) = delete;
    NetoControlHost& operator=(const NetoControlHost&) = delete;

    void SetCOMport(std::int16_t value) override;
    void SetBaudrate(std::int32_t value) override;
    void SetParity(std::int16_t value) override;
    void SetByteSize(std::int16_t value) override;
    void SetStopBits(std::int16_t value) override;
    void SetPollSpeed(std::int32_t value) override;
    void SetPollTimeout(std::int32_t value) override;
    void SetRxTxDelay(std::int32_t value) override;
    void SetIrDADevice(std::int32_t value) override;
    std::int16_t Download(const std::u16string& id, const std::u16string& RcvDir,
                          std::int32_t downType) override;
    void StopRunning() override;
    std::int16_t IsProtocolRunning() override;
    void CloseControl() override;

    // Still among the main window's children, that is, CloseControl has not
    // run: the teardown then destroys the component first of all parts.
    bool Attached() const { return attached_; }

    // Disconnects, closes without saving and releases the component. Later
    // calls do nothing; the object stays usable as a TNetoCtl that fails.
    void Destroy() noexcept;

  private:
    // The container side the component sees: just enough of a client site.
    class ClientSite final : public IOleClientSite {
      public:
        STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
        STDMETHODIMP_(ULONG) AddRef() override { return 1; }
        STDMETHODIMP_(ULONG) Release() override { return 1; }
        STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
        STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
        STDMETHODIMP GetContainer(IOleContainer** container) override;
        STDMETHODIMP ShowObject() override { return S_OK; }
        STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
        STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }
    };

    // The event interface: a dispatch sink whose only real method is Invoke.
    class EventSink final : public IDispatch {
      public:
        explicit EventSink(NetoControlHost& owner) : owner_(owner) {}
        STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
        STDMETHODIMP_(ULONG) AddRef() override { return 1; }
        STDMETHODIMP_(ULONG) Release() override { return 1; }
        STDMETHODIMP GetTypeInfoCount(UINT* count) override;
        STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
        STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
        STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                            UINT*) override;

      private:
        NetoControlHost& owner_;
    };

    void Create();
    void PutProperty(DISPID id, VARIANT value);
    // Calls a method by name, its dispatch identifier asked for once. The
    // answer goes into `result`, which the caller owns and clears.
    void CallMethod(DISPID& cachedId, const wchar_t* name, DISPPARAMS& params, VARIANT* result);
    IDispatch& Dispatch() const;

    ClientSite site_;
    EventSink sink_{*this};
    ComPtr<IOleObject> object_;
    ComPtr<IDispatch> dispatch_;
    ComPtr<IConnectionPoint> eventPoint_;
    DWORD cookie_ = 0;
    bool sited_ = false;
    bool attached_ = true;
    DISPID downloadId_ = DISPID_UNKNOWN;
    DISPID stopRunningId_ = DISPID_UNKNOWN;
    DISPID isProtocolRunningId_ = DISPID_UNKNOWN;
};

}  // namespace vorlund
