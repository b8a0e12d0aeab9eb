#include "app/win32/ViewUpdateQueue.h"

#include <unordered_map>
#include <utility>

bool CViewUpdateQueue::Push(ViewUpdate update) {
  std::lock_guard<std::mutex> hold(m_lock);
  m_updates.push_back(std::move(update));
  if (m_bWakePending) return false;
  m_bWakePending = true;
  return true;
}

void CViewUpdateQueue::WakeFailed() {
  std::lock_guard<std::mutex> hold(m_lock);
  m_bWakePending = false;
}

std::vector<ViewUpdate> CViewUpdateQueue::TakeAll() {
  std::vector<ViewUpdate> taken;
  {
    std::lock_guard<std::mutex> hold(m_lock);
    taken.swap(m_updates);
    m_bWakePending = false;
  }
  // A label's text only matters as last set: keep the last SetText of each
  // control, in its place, so that the order of everything else is kept.
  std::unordered_map<int, size_t> lastText;
  for (size_t i = 0; i < taken.size(); ++i)
    if (taken[i].kind == ViewUpdate::Kind::SetText) lastText[taken[i].controlId] = i;
  std::vector<ViewUpdate> result;
  result.reserve(taken.size());
  for (size_t i = 0; i < taken.size(); ++i) {
    if (taken[i].kind == ViewUpdate::Kind::SetText && lastText[taken[i].controlId] != i) continue;
    result.push_back(std::move(taken[i]));
  }
  return result;
}

size_t CViewUpdateQueue::Size() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_updates.size();
}
