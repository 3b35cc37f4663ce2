// The stand-in's life as an embedded object: the client site, the object's
// fixed answers about itself, and the connection point through which the
// service's event sink is advised. What the control does lives in
// stand_in_control.cpp.
#include <olectl.h>

#include <string>

#include "stand_in_control.h"

namespace standin {

STDMETHODIMP StandInControl::SetClientSite(IOleClientSite* site) {
    log_.Write(site ? "SetClientSite set" : "SetClientSite null");
    if (site) {
        site->AddRef();
    }
    if (site_) {
        site_->Release();
    }
    site_ = site;
    return S_OK;
}

STDMETHODIMP StandInControl::GetClientSite(IOleClientSite** site) {
    *site = site_;
    if (site_) {
        site_->AddRef();
    }
    return S_OK;
}

STDMETHODIMP StandInControl::SetHostNames(LPCOLESTR, LPCOLESTR) {
    return S_OK;
}

STDMETHODIMP StandInControl::SetMoniker(DWORD, IMoniker*) {
    return E_NOTIMPL;
}
STDMETHODIMP StandInControl::GetMoniker(DWORD, DWORD, IMoniker**) {
    return E_NOTIMPL;
}
STDMETHODIMP StandInControl::InitFromData(IDataObject*, BOOL, DWORD) {
    return E_NOTIMPL;
}
STDMETHODIMP StandInControl::GetClipboardData(DWORD, IDataObject**) {
    return E_NOTIMPL;
}

STDMETHODIMP StandInControl::DoVerb(LONG verb, LPMSG, IOleClientSite*, LONG, HWND, LPCRECT) {
    log_.Write("DoVerb " + std::to_string(verb));
    return E_NOTIMPL;
}

STDMETHODIMP StandInControl::EnumVerbs(IEnumOLEVERB**) {
    return E_NOTIMPL;
}
STDMETHODIMP StandInControl::Update() {
    return S_OK;
}
STDMETHODIMP StandInControl::IsUpToDate() {
    return S_OK;
}

STDMETHODIMP StandInControl::GetUserClassID(CLSID* classId) {
    *classId = kControlClassId;
    return S_OK;
}

STDMETHODIMP StandInControl::GetUserType(DWORD, LPOLESTR*) {
    return E_NOTIMPL;
}
STDMETHODIMP StandInControl::SetExtent(DWORD, SIZEL*) {
    return S_OK;
}
STDMETHODIMP StandInControl::GetExtent(DWORD, SIZEL*) {
    return E_NOTIMPL;
}
STDMETHODIMP StandInControl::Advise(IAdviseSink*, DWORD*) {
    return E_NOTIMPL;
}
STDMETHODIMP StandInControl::Unadvise(DWORD) {
    return E_NOTIMPL;
}
STDMETHODIMP StandInControl::EnumAdvise(IEnumSTATDATA**) {
    return E_NOTIMPL;
}

STDMETHODIMP StandInControl::GetMiscStatus(DWORD, DWORD* status) {
    log_.Write("GetMiscStatus");
    *status = OLEMISC_SETCLIENTSITEFIRST | OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_INSIDEOUT |
              OLEMISC_CANTLINKINSIDE | OLEMISC_RECOMPOSEONRESIZE;
    return S_OK;
}

STDMETHODIMP StandInControl::SetColorScheme(LOGPALETTE*) {
    return E_NOTIMPL;
}

STDMETHODIMP StandInControl::GetClassID(CLSID* classId) {
    *classId = kControlClassId;
    return S_OK;
}

STDMETHODIMP StandInControl::IsDirty() {
    return S_FALSE;
}
STDMETHODIMP StandInControl::Load(LPSTREAM) {
    return E_NOTIMPL;
}
STDMETHODIMP StandInControl::Save(LPSTREAM, BOOL) {
    return E_NOTIMPL;
}
STDMETHODIMP StandInControl::GetSizeMax(ULARGE_INTEGER*) {
    return E_NOTIMPL;
}

STDMETHODIMP StandInControl::InitNew() {
    log_.Write("InitNew");
    return S_OK;
}

STDMETHODIMP StandInControl::EnumConnectionPoints(IEnumConnectionPoints**) {
    return E_NOTIMPL;
}

STDMETHODIMP StandInControl::FindConnectionPoint(REFIID iid, IConnectionPoint** point) {
    if (iid != kEventInterfaceId) {
        *point = nullptr;
        return CONNECT_E_NOCONNECTION;
    }
    *point = &eventPoint_;
    AddRef();
    return S_OK;
}

STDMETHODIMP StandInControl::EventPoint::QueryInterface(REFIID iid, void** object) {
    if (iid == IID_IUnknown || iid == IID_IConnectionPoint) {
        *object = this;
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP StandInControl::EventPoint::GetConnectionInterface(IID* iid) {
    *iid = kEventInterfaceId;
    return S_OK;
}

STDMETHODIMP StandInControl::EventPoint::GetConnectionPointContainer(
    IConnectionPointContainer** container) {
    *container = &owner_;
    owner_.AddRef();
    return S_OK;
}

STDMETHODIMP StandInControl::EventPoint::Advise(IUnknown* sink, DWORD* cookie) {
    // A real control asks the sink for the event interface itself, so a sink
    // that only answers IDispatch is refused here as well.
    IDispatch* events = nullptr;
    if (!sink ||
        FAILED(sink->QueryInterface(kEventInterfaceId, reinterpret_cast<void**>(&events)))) {
        owner_.log_.Write("Advise refused");
        return CONNECT_E_CANNOTCONNECT;
    }
    *cookie = owner_.nextCookie_++;
    owner_.sinks_[*cookie] = events;
    owner_.log_.Write("Advise " + std::to_string(*cookie));
    return S_OK;
}

STDMETHODIMP StandInControl::EventPoint::Unadvise(DWORD cookie) {
    const auto found = owner_.sinks_.find(cookie);
    if (found == owner_.sinks_.end()) {
        owner_.log_.Write("Unadvise unknown " + std::to_string(cookie));
        return CONNECT_E_NOCONNECTION;
    }
    found->second->Release();
    owner_.sinks_.erase(found);
    owner_.log_.Write("Unadvise " + std::to_string(cookie));
    return S_OK;
}

STDMETHODIMP StandInControl::EventPoint::EnumConnections(IEnumConnections**) {
    return E_NOTIMPL;
}

}  // namespace standin
