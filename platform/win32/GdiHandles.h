#pragma once
// Owners for GDI handles and drawing-context state, so that every paint gives
// back exactly what it took, also on its early exits: a window repainted
// thousands of times per scan must not leak one bitmap or brush per paint.
//
// Destruction order matters for GDI: an object must be deselected before it is
// deleted, and a memory context deleted last. Declare the owners in the order
// context, object, selection guard; they then unwind in the right order.
#include <windows.h>

#include <utility>

// Owns a GDI object (HBITMAP, HBRUSH, HPEN, HFONT, HRGN) and deletes it.
template <class Handle>
class GdiObject {
 public:
  GdiObject() = default;
  explicit GdiObject(Handle handle) : m_handle(handle) {}
  ~GdiObject() { reset(); }
  GdiObject(GdiObject&& other) noexcept : m_handle(other.release()) {}
  GdiObject& operator=(GdiObject&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  GdiObject(const GdiObject&) = delete;
  GdiObject& operator=(const GdiObject&) = delete;

  Handle get() const { return m_handle; }
  explicit operator bool() const { return m_handle != nullptr; }
  Handle release() { return std::exchange(m_handle, nullptr); }
  void reset(Handle handle = nullptr) {
    if (m_handle) ::DeleteObject(m_handle);
    m_handle = handle;
  }

 private:
  Handle m_handle = nullptr;
};

using UniqueBitmap = GdiObject<HBITMAP>;
using UniqueBrush = GdiObject<HBRUSH>;
using UniquePen = GdiObject<HPEN>;
using UniqueFont = GdiObject<HFONT>;
using UniqueRegion = GdiObject<HRGN>;

// A memory drawing context (CreateCompatibleDC), deleted with DeleteDC.
class MemoryDc {
 public:
  explicit MemoryDc(HDC compatibleWith) : m_dc(::CreateCompatibleDC(compatibleWith)) {}
  ~MemoryDc() {
    if (m_dc) ::DeleteDC(m_dc);
  }
  MemoryDc(const MemoryDc&) = delete;
  MemoryDc& operator=(const MemoryDc&) = delete;

  HDC get() const { return m_dc; }
  explicit operator bool() const { return m_dc != nullptr; }

 private:
  HDC m_dc;
};

// A window's drawing context from GetDC, given back with ReleaseDC.
class WindowDc {
 public:
  explicit WindowDc(HWND window) : m_window(window), m_dc(::GetDC(window)) {}
  ~WindowDc() {
    if (m_dc) ::ReleaseDC(m_window, m_dc);
  }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;

  HDC get() const { return m_dc; }
  explicit operator bool() const { return m_dc != nullptr; }

 private:
  HWND m_window;
  HDC m_dc;
};

// BeginPaint / EndPaint around one WM_PAINT.
class PaintDc {
 public:
  explicit PaintDc(HWND window) : m_window(window), m_ps{} { m_dc = ::BeginPaint(window, &m_ps); }
  ~PaintDc() { ::EndPaint(m_window, &m_ps); }
  PaintDc(const PaintDc&) = delete;
  PaintDc& operator=(const PaintDc&) = delete;

  HDC get() const { return m_dc; }
  const PAINTSTRUCT& paint() const { return m_ps; }

 private:
  HWND m_window;
  PAINTSTRUCT m_ps;
  HDC m_dc = nullptr;
};

// Selects an object into a context and selects the previous one back on
// destruction. False when the selection failed (nothing to restore then).
class SelectedObject {
 public:
  SelectedObject(HDC dc, HGDIOBJ object) : m_dc(dc), m_previous(dc && object ? ::SelectObject(dc, object) : nullptr) {
    if (m_previous == HGDI_ERROR) m_previous = nullptr;
  }
  ~SelectedObject() {
    if (m_previous) ::SelectObject(m_dc, m_previous);
  }
  SelectedObject(const SelectedObject&) = delete;
  SelectedObject& operator=(const SelectedObject&) = delete;

  explicit operator bool() const { return m_previous != nullptr; }
  HGDIOBJ previous() const { return m_previous; }

 private:
  HDC m_dc;
  HGDIOBJ m_previous;
};

// SaveDC / RestoreDC: brings back mode, colours and selections of a context
// that is not ours (a WM_DRAWITEM context belongs to the button).
class SavedDcState {
 public:
  explicit SavedDcState(HDC dc) : m_dc(dc), m_saved(dc ? ::SaveDC(dc) : 0) {}
  ~SavedDcState() {
    if (m_saved) ::RestoreDC(m_dc, m_saved);
  }
  SavedDcState(const SavedDcState&) = delete;
  SavedDcState& operator=(const SavedDcState&) = delete;

  explicit operator bool() const { return m_saved != 0; }

 private:
  HDC m_dc;
  int m_saved;
};
