// One window procedure for every window class of the shell: on WM_NCCREATE
// it stores the C++ object passed as creation parameter, then forwards each
// message to that object's HandleMessage. No window state lives outside the
// objects.
#pragma once

#include <windows.h>

namespace vorlund {

class NativeWindow {
  public:
    NativeWindow() = default;
    virtual ~NativeWindow();
    NativeWindow(const NativeWindow&) = delete;
    NativeWindow& operator=(const NativeWindow&) = delete;

    HWND Handle() const { return handle_; }

  protected:
    struct Shape {
        DWORD style = 0;
        DWORD exStyle = 0;
        HWND parent = nullptr;  // HWND_MESSAGE for a message-only window
        RECT bounds{};
    };

    // Registers `className` on first use and creates the window, hidden.
    // Derived classes call it from their constructors, once they are whole.
    void CreateNative(const char* className, const char* title, const Shape& shape);
    void DestroyNative();

    // Everything unhandled goes to DefWindowProcA.
    virtual LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

  private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND handle_ = nullptr;
};

}  // namespace vorlund
