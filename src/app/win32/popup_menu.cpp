#include "app/win32/popup_menu.h"

#include <utility>

#include "app/win32/com_error.h"

namespace vorlund {
namespace {

constexpr char kVorlundCloseCaption[] = "St\xE4ng Vorlund";

}  // namespace

TPopupMenu::TPopupMenu() : menu_(CreatePopupMenu()) {
    if (!menu_) {
        ThrowLastError();
    }
    if (!AppendMenuA(menu_, MF_STRING | MF_ENABLED, kVorlundCloseId, kVorlundCloseCaption)) {
        const DWORD error = GetLastError();
        DestroyMenu(menu_);
        SetLastError(error);
        ThrowLastError();
    }
}

TPopupMenu::~TPopupMenu() {
    DestroyMenu(menu_);
}

void TPopupMenu::SetOnVorlundCloseClick(std::function<void()> handler) {
    onVorlundCloseClick_ = std::move(handler);
}

void TPopupMenu::Popup(HWND owner, POINT at) const {
    TrackPopupMenu(menu_, TPM_LEFTALIGN | TPM_RIGHTBUTTON, at.x, at.y, 0, owner, nullptr);
}

bool TPopupMenu::Click(UINT id) const {
    if (id != kVorlundCloseId) {
        return false;
    }
    if (onVorlundCloseClick_) {
        onVorlundCloseClick_();
    }
    return true;
}

void TPopupMenu::ClickDefault() const {
    // Disabled items are skipped unless asked for.
    const UINT id = GetMenuDefaultItem(menu_, FALSE, 0);
    if (id != static_cast<UINT>(-1)) {
        Click(id);
    }
}

}  // namespace vorlund
