#include "skin/SkinButtonState.h"

bool CSkinButtonState::LoadImages(ISkinImageStore& store, uint16_t normalId, uint16_t pressedId, uint16_t hoverId) {
  store.ReleaseAll();
  if (!store.Load(SkinImage::kNormal, normalId)) return false;
  if (pressedId != 0 && !store.Load(SkinImage::kPressed, pressedId)) return false;
  if (hoverId != 0 && !store.Load(SkinImage::kHover, hoverId)) return false;
  return true;
}

void CSkinButtonState::OnMouseMove(ISkinButtonPort& port, int32_t x, int32_t y) {
  // The scan window has just swapped Start and Stop (or is closing): whatever
  // lies under the pointer must not show or keep a hover look until the
  // pointer has crossed the window's own background.
  if (m_pSet != nullptr && m_pSet->HoverResetPending()) {
    Leave(port);
    return;
  }
  port.PassToDefault();
  // A button that lost its capture (a click releases it) enters hover again on
  // the next move; a pressed button never does.
  if ((m_bTracking == 0 || !port.HoldsCapture()) && m_nState == kNormal) {
    Enter(port);
    return;
  }
  // While hovering the button holds the capture, so it sees the move that
  // takes the pointer off it.
  if (m_nState == kHover && !port.ClientRect().Contains(x, y)) Leave(port);
}

void CSkinButtonState::OnLButtonDown(ISkinButtonPort& port) {
  m_nState = kPressed;
  port.PassToDefault();
}

void CSkinButtonState::OnLButtonUp(ISkinButtonPort& port) {
  m_nState = kNormal;
  port.PassToDefault();
}

void CSkinButtonState::Enter(ISkinButtonPort& port) {
  m_bTracking = 1;
  m_nState = kHover;
  port.TakeCapture();
  port.RepaintNow();
  port.PostToMainWindow(WM_SKIN_HOVER, port.ControlId(), 0);
}

void CSkinButtonState::Leave(ISkinButtonPort& port) {
  m_nState = kNormal;
  m_bTracking = 0;
  port.RepaintNow();
  port.ReleaseCapture();
  port.PostToMainWindow(WM_SKIN_LEAVE, port.ControlId(), 0);
}

SkinImage CSkinButtonState::ImageForState() const {
  switch (m_nState) {
    case kPressed:
      return SkinImage::kPressed;
    case kHover:
      return SkinImage::kHover;
    default:
      return SkinImage::kNormal;
  }
}

void CSkinButtonState::Draw(const ISkinImageStore& store, ISkinItemCanvas& canvas) const {
  const SkinImage image = ImageForState();
  if (store.IsLoaded(image) && !canvas.CopyImage(image)) return;
  canvas.DrawCaption();
}
