#include "skin/win32/SkinPainter.h"

CSkinButton& SkinPaintButtons::For(SkinButtonRole role) const {
  switch (role) {
    case SkinButtonRole::kStart:
      return start;
    case SkinButtonRole::kExit:
      return exit;
    case SkinButtonRole::kStop:
      return stop;
    default:
      return banner;
  }
}

void PaintSkin(HWND window, HDC paintDc, const SkinPaintButtons& buttons) {
  RECT rc{};
  ::GetClientRect(window, &rc);
  const SkinRect client{rc.left, rc.top, rc.right, rc.bottom};

  // Owners in the order context, bitmap, selection: they unwind deselect
  // first, then delete the bitmap, then the context.
  MemoryDc memory(paintDc);
  UniqueBitmap background = LoadSkinBitmap(kSkinBackgroundId);
  SelectedObject selected(memory.get(), background.get());
  if (selected) {
    const SkinBlit blit = SkinBackgroundBlit(client);
    ::BitBlt(paintDc, blit.destX, blit.destY, blit.width, blit.height, memory.get(), blit.srcX, blit.srcY, SRCCOPY);
  }

  for (const SkinButtonPlace& place : kSkinButtonLayout) {
    CSkinButton& button = buttons.For(place.role);
    button.LoadImages(place.normalId, place.pressedId, place.hoverId);  // a failed image shows the caption only
    if (HWND hwnd = button.GetSafeHwnd()) {
      ::SetWindowPos(hwnd, nullptr, place.x, place.y, place.width, place.height, SWP_NOZORDER);
    }
  }
}
