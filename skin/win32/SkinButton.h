#pragma once
// The owner-drawn image button of the scan window. It subclasses a BUTTON
// control of the dialog template (style BS_OWNERDRAW), feeds its mouse
// messages to CSkinButtonState and draws the state's bitmap when the parent
// reflects WM_DRAWITEM to it. The behaviour itself lives in the portable
// skin/SkinButtonState.h.
#include <windows.h>

#include <cstdint>

#include "platform/win32/GdiHandles.h"
#include "skin/SkinButtonState.h"

// The module whose bitmap resources the skin loads from; the program's own
// module unless another one has been set (a resource-only DLL, a test).
void SetSkinResourceModule(HMODULE module);
// LoadBitmapA of a bitmap resource as a device-dependent bitmap, from the
// module that holds `resourceId` as RT_BITMAP; empty when there is none.
UniqueBitmap LoadSkinBitmap(uint16_t resourceId);

class CSkinButton {
 public:
  CSkinButton();
  // Gives the control its own window procedure back; the images go with the object.
  ~CSkinButton();
  CSkinButton(const CSkinButton&) = delete;
  CSkinButton& operator=(const CSkinButton&) = delete;

  // Binds the object to control `controlId` of `dialog` (what DDX_Control does
  // for a dialog member). False when the control does not exist or another
  // skin button already holds it.
  bool SubclassDlgItem(HWND dialog, int controlId);
  bool Attach(HWND button);
  void Detach();
  HWND GetSafeHwnd() const { return m_hWnd; }

  // Deletes the images held, then loads normal (required), pressed and hover
  // (0 = none). False at the first image that cannot be loaded.
  bool LoadImages(uint16_t normalId, uint16_t pressedId, uint16_t hoverId);

  // Draws the button for a WM_DRAWITEM request.
  void DrawItem(const DRAWITEMSTRUCT& item);
  // For the parent's WM_DRAWITEM handler: hands the request to the skin button
  // it is for. True when `item` belongs to a skin button (the dialog then
  // returns TRUE), false for any other control.
  static bool ReflectDrawItem(const DRAWITEMSTRUCT* item);

  const CSkinButtonState& State() const { return m_state; }
  // The set whose hover-reset flag the button obeys.
  void JoinSet(const CSkinButtonSet* set) { m_state.JoinSet(set); }

 private:
  class Port;
  class ImageStore;

  static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT CallDefault(UINT message, WPARAM wParam, LPARAM lParam);
  HBITMAP Image(SkinImage which) const;

  HWND m_hWnd = nullptr;
  WNDPROC m_pfnOldProc = nullptr;
  CSkinButtonState m_state;
  UniqueBitmap m_bmpPressed;
  UniqueBitmap m_bmpHover;
  UniqueBitmap m_bmpNormal;
};
