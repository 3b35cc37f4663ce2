// A test-only component object in the terminal-download control's place: the
// same class identifier, dispatch identifiers and event interface, with the
// protocol replaced by the reactions of a scenario. Events are raised on the
// thread that created the object, from a timer of a hidden window of its own,
// and each waits for the service's handler to return, as the real control's do.
#pragma once

#include <windows.h>

#include <ocidl.h>
#include <oleidl.h>

#include <map>
#include <string>
#include <vector>

#include "call_log.h"
#include "scenario.h"

namespace standin {

extern const CLSID kControlClassId;
extern const IID kDefaultInterfaceId;
extern const IID kEventInterfaceId;

// Dispatch identifiers of the methods. They are deliberately not 10, 11, 12:
// the service has to ask GetIDsOfNames for them.
inline constexpr DISPID kDownloadId = 21;
inline constexpr DISPID kStopRunningId = 23;
inline constexpr DISPID kIsProtocolRunningId = 24;
inline constexpr DISPID kOnProtocolMessageId = 3;

class StandInControl final : public IDispatch,
                             public IOleObject,
                             public IPersistStreamInit,
                             public IConnectionPointContainer {
  public:
    StandInControl(Scenario scenario, CallLog log);
    StandInControl(const StandInControl&) = delete;
    StandInControl& operator=(const StandInControl&) = delete;

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IDispatch
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override;
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argumentError) override;

    // IOleObject
    STDMETHODIMP SetClientSite(IOleClientSite* site) override;
    STDMETHODIMP GetClientSite(IOleClientSite** site) override;
    STDMETHODIMP SetHostNames(LPCOLESTR, LPCOLESTR) override;
    STDMETHODIMP Close(DWORD saveOption) override;
    STDMETHODIMP SetMoniker(DWORD, IMoniker*) override;
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override;
    STDMETHODIMP InitFromData(IDataObject*, BOOL, DWORD) override;
    STDMETHODIMP GetClipboardData(DWORD, IDataObject**) override;
    STDMETHODIMP DoVerb(LONG verb, LPMSG, IOleClientSite*, LONG, HWND, LPCRECT) override;
    STDMETHODIMP EnumVerbs(IEnumOLEVERB**) override;
    STDMETHODIMP Update() override;
    STDMETHODIMP IsUpToDate() override;
    STDMETHODIMP GetUserClassID(CLSID* classId) override;
    STDMETHODIMP GetUserType(DWORD, LPOLESTR*) override;
    STDMETHODIMP SetExtent(DWORD, SIZEL*) override;
    STDMETHODIMP GetExtent(DWORD, SIZEL*) override;
    STDMETHODIMP Advise(IAdviseSink*, DWORD*) override;
    STDMETHODIMP Unadvise(DWORD) override;
    STDMETHODIMP EnumAdvise(IEnumSTATDATA**) override;
    STDMETHODIMP GetMiscStatus(DWORD aspect, DWORD* status) override;
    STDMETHODIMP SetColorScheme(LOGPALETTE*) override;

    // IPersistStreamInit
    STDMETHODIMP GetClassID(CLSID* classId) override;
    STDMETHODIMP IsDirty() override;
    STDMETHODIMP Load(LPSTREAM) override;
    STDMETHODIMP Save(LPSTREAM, BOOL) override;
    STDMETHODIMP GetSizeMax(ULARGE_INTEGER*) override;
    STDMETHODIMP InitNew() override;

    // IConnectionPointContainer
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints**) override;
    STDMETHODIMP FindConnectionPoint(REFIID iid, IConnectionPoint** point) override;

  private:
    // The one connection point, for the event interface. Its reference count
    // is the control's.
    class EventPoint final : public IConnectionPoint {
      public:
        explicit EventPoint(StandInControl& owner) : owner_(owner) {}
        STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
        STDMETHODIMP_(ULONG) AddRef() override { return owner_.AddRef(); }
        STDMETHODIMP_(ULONG) Release() override { return owner_.Release(); }
        STDMETHODIMP GetConnectionInterface(IID* iid) override;
        STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override;
        STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
        STDMETHODIMP Unadvise(DWORD cookie) override;
        STDMETHODIMP EnumConnections(IEnumConnections**) override;

      private:
        StandInControl& owner_;
    };

    struct PendingReaction {
        Reaction reaction;
        std::wstring rcvDir;
    };

    ~StandInControl();

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    HRESULT PutProperty(DISPID id, const DISPPARAMS& params, EXCEPINFO* exception);
    HRESULT CallDownload(const DISPPARAMS& params, VARIANT* result);
    void React(UINT_PTR timerId);
    void RaiseProtocolMessage(std::int16_t code, std::int16_t final);
    void CancelReactions();
    bool Running() const;

    LONG references_ = 1;
    Scenario scenario_;
    CallLog log_;
    EventPoint eventPoint_{*this};
    IOleClientSite* site_ = nullptr;
    std::map<DWORD, IDispatch*> sinks_;
    DWORD nextCookie_ = 1;
    HWND window_ = nullptr;
    std::map<UINT_PTR, PendingReaction> pending_;
    UINT_PTR nextTimerId_ = 1;
    int downloadCalls_ = 0;
    bool running_ = false;
    std::int16_t comPort_ = 0;
};

}  // namespace standin
