#include "chart/CDrawPicModel.h"

#include <utility>

#include "platform/Format.h"

namespace {

std::array<CDrawPicCellOrigin, CDrawPicModel::kCellCount> MakeCellOrigins() {
  std::array<CDrawPicCellOrigin, CDrawPicModel::kCellCount> origins{};
  int k = 0;
  for (int row = 0; row < CDrawPicModel::kRows; ++row) {
    for (int col = 0; col < CDrawPicModel::kColumns; ++col) {
      origins[k++] = {col * CDrawPicModel::kCellPitch, row * CDrawPicModel::kCellPitch};
    }
  }
  return origins;
}

}  // namespace

void CDrawPicCurve::InsertPoint(CDrawPicPoint point) {
  // Walk back over every stored point whose x is not smaller than the new one.
  auto pos = m_points.end();
  while (pos != m_points.begin() && (pos - 1)->x >= point.x) --pos;
  m_points.insert(pos, point);
}

CDrawPicModel::CDrawPicModel() : m_cellOrigins(MakeCellOrigins()) {}

CDrawPicModel::~CDrawPicModel() { RemoveAllCurves(); }

CDrawPicCurve* CDrawPicModel::FindCurveLocked(std::string_view name) const {
  const auto it = m_byName.find(std::string(name));
  return it == m_byName.end() ? nullptr : it->second;
}

int32_t CDrawPicModel::AddCurve(std::string_view name, uint32_t color) {
  if (name.empty()) return -1;
  // Made before taking the lock; if appending fails the curve goes with it.
  auto curve = std::make_unique<CDrawPicCurve>(std::string(name), color);
  std::lock_guard<std::mutex> hold(m_lock);
  if (m_curves.size() >= static_cast<size_t>(kCellCount)) return -1;
  if (FindCurveLocked(name) != nullptr) return -1;
  CDrawPicCurve* added = curve.get();
  m_curves.push_back(std::move(curve));
  m_byName.emplace(added->m_name, added);
  return static_cast<int32_t>(m_curves.size() - 1);
}

CDrawPicCurve* CDrawPicModel::GetCurve(int32_t index) {
  std::lock_guard<std::mutex> hold(m_lock);
  if (index < 0 || static_cast<size_t>(index) >= m_curves.size()) return nullptr;
  return m_curves[static_cast<size_t>(index)].get();
}

const CDrawPicCurve* CDrawPicModel::GetCurve(int32_t index) const {
  return const_cast<CDrawPicModel*>(this)->GetCurve(index);
}

int32_t CDrawPicModel::AddPoint(std::string_view name, float x, float y) {
  if (name.empty()) return 0;
  std::lock_guard<std::mutex> hold(m_lock);
  CDrawPicCurve* curve = FindCurveLocked(name);
  if (curve == nullptr) return 0;
  curve->InsertPoint({x, y});
  return 1;
}

void CDrawPicModel::RemoveAllCurves() {
  std::vector<std::unique_ptr<CDrawPicCurve>> old;
  {
    std::lock_guard<std::mutex> hold(m_lock);
    old.swap(m_curves);  // m_curves now holds no storage at all
    std::unordered_map<std::string, CDrawPicCurve*>().swap(m_byName);
  }
  // The curves are destroyed here, outside the lock.
}

int32_t CDrawPicModel::GetCurveCount() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return static_cast<int32_t>(m_curves.size());
}

int32_t CDrawPicModel::SetShown(int32_t index, int32_t shown) {
  std::lock_guard<std::mutex> hold(m_lock);
  if (index < 0 || static_cast<size_t>(index) >= m_curves.size()) return 0;
  m_curves[static_cast<size_t>(index)]->m_shown.store(shown);
  return 1;
}

bool CDrawPicModel::PaintCell(int32_t cell, uint32_t color) {
  const std::string name = StrFormat("TestOneCurve%d", cell);
  const int32_t index = AddCurve(name, color);
  if (index < 0) return false;
  SetShown(index, 1);
  // All points of a cell lie on y = cell; x runs 0, cell, 2 cell ... 6 cell.
  for (int j = 0; j <= 6; ++j)
    AddPoint(name, static_cast<float>(j) * static_cast<float>(cell), static_cast<float>(cell));
  return true;
}

std::vector<CDrawPicPoint> CDrawPicModel::CopyPoints(int32_t index) const {
  std::lock_guard<std::mutex> hold(m_lock);
  if (index < 0 || static_cast<size_t>(index) >= m_curves.size()) return {};
  return m_curves[static_cast<size_t>(index)]->m_points;
}

std::vector<CDrawPicCurveState> CDrawPicModel::SnapshotCurves() const {
  std::vector<CDrawPicCurveState> states;
  std::lock_guard<std::mutex> hold(m_lock);
  states.reserve(m_curves.size());
  for (const auto& curve : m_curves) {
    states.push_back({curve->m_color, curve->m_shown.load(), static_cast<int32_t>(curve->m_points.size())});
  }
  return states;
}
