// PopupMenu1 with its one item mnuVorlundClose, "Stäng Vorlund". The menu
// is shown for a window that receives the chosen item as WM_COMMAND, so the
// item's handler runs after the menu has closed.
#pragma once

#include <windows.h>

#include <functional>

namespace vorlund {

class TPopupMenu {
  public:
    static constexpr UINT kVorlundCloseId = 1;

    TPopupMenu();
    ~TPopupMenu();
    TPopupMenu(const TPopupMenu&) = delete;
    TPopupMenu& operator=(const TPopupMenu&) = delete;

    HMENU Handle() const { return menu_; }

    // mnuVorlundClose's OnClick. Until it is bound, choosing the item does
    // nothing.
    void SetOnVorlundCloseClick(std::function<void()> handler);

    // Shows the menu modally with its left edge at the point's x and its top
    // edge at its y, items selectable with either button.
    void Popup(HWND owner, POINT at) const;

    // The WM_COMMAND of a chosen item; false when the identifier is not ours.
    bool Click(UINT id) const;
    // Runs the first item that is both the default item and enabled, if any.
    void ClickDefault() const;

  private:
    HMENU menu_;
    std::function<void()> onVorlundCloseClick_;
};

}  // namespace vorlund
