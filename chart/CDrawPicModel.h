#pragma once
// The model of the scan map's chart control: an ordered list of named curves,
// one per map cell, and the fixed layout of the 2484 cells.
//
// The scan worker appends curves and points while the window thread paints,
// so every change and every read of the list happens under one lock; a paint
// works on a snapshot taken under that lock (SnapshotCurves) and therefore
// never sees a curve or a point list half made. The Win32 window class
// CDrawPic derives from this class, so the worker and the scan window call
// AddCurve etc. on the control itself; the terminal front end and the tests
// use the model alone.
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct CDrawPicPoint {
  float x;
  float y;
};

// One map cell's curve. Name and colour are fixed when the curve is made;
// the shown flag may be set by a caller holding the pointer from GetCurve on
// any thread, hence atomic. The points change only under the model's lock.
class CDrawPicCurve {
 public:
  static constexpr uint32_t kDefaultColor = 0xFF0000;  // pure blue (0x00BBGGRR)

  explicit CDrawPicCurve(std::string name, uint32_t color = kDefaultColor) : m_name(std::move(name)), m_color(color) {}
  CDrawPicCurve(const CDrawPicCurve&) = delete;
  CDrawPicCurve& operator=(const CDrawPicCurve&) = delete;

  const std::string m_name;  // bytes as given (code page 936); never empty
  const uint32_t m_color;    // COLORREF layout, red in the low byte
  std::atomic<int32_t> m_shown{1};

  // Ascending x. Read this directly only on the thread that adds the points
  // (or while no other thread uses the model); others use
  // CDrawPicModel::CopyPoints.
  const std::vector<CDrawPicPoint>& Points() const { return m_points; }

 private:
  friend class CDrawPicModel;
  // A new point goes after the last stored point whose x is strictly
  // smaller, so equal x values end up in reverse order of arrival.
  void InsertPoint(CDrawPicPoint point);

  std::vector<CDrawPicPoint> m_points;
};

struct CDrawPicCellOrigin {
  int x;
  int y;
};

// What a paint needs of one curve, copied under the lock.
struct CDrawPicCurveState {
  uint32_t color;
  int32_t shown;
  int32_t pointCount;
};

class CDrawPicModel {
 public:
  static constexpr int kColumns = 54;
  static constexpr int kRows = 46;
  static constexpr int kCellCount = kColumns * kRows;  // 2484
  static constexpr int kCellPitch = 10;                // pixels, both directions
  // The client area the layout fills exactly.
  static constexpr int kMapWidth = kColumns * kCellPitch;  // 540
  static constexpr int kMapHeight = kRows * kCellPitch;    // 460

  CDrawPicModel();
  virtual ~CDrawPicModel();
  CDrawPicModel(const CDrawPicModel&) = delete;
  CDrawPicModel& operator=(const CDrawPicModel&) = delete;

  // Appends a curve with m_shown = 1 and no points and returns its index.
  // -1, with nothing changed, for an empty name, a name already present
  // (exact byte comparison), or when all 2484 cells already have a curve: a
  // badly damaged disk adds one curve per failed read on top of one per
  // cell, and a curve without a cell could never be shown, so refusing it
  // keeps the list (and memory) bounded by the map.
  int32_t AddCurve(std::string_view name, uint32_t color);

  // The curve at that position, or null when the index is negative or not
  // below the number of curves. The pointer stays valid until
  // RemoveAllCurves or the model's end; curves are never moved.
  CDrawPicCurve* GetCurve(int32_t index);
  const CDrawPicCurve* GetCurve(int32_t index) const;

  // Inserts (x, y) into the first curve with that name: 1, or 0 with nothing
  // changed when the name is empty or no curve has it.
  int32_t AddPoint(std::string_view name, float x, float y);

  // Destroys every curve and releases the list's storage; the next AddCurve
  // returns 0 again. Pointers from GetCurve become invalid, so this runs only
  // while no other thread uses the model (before a run's worker starts).
  void RemoveAllCurves();

  int32_t GetCurveCount() const;

  // Sets a curve's shown flag by index: 1, or 0 for an index out of range.
  int32_t SetShown(int32_t index, int32_t shown);

  // Paints map cell `cell` in `color` the way the scan does: a curve named
  // "TestOneCurve<cell>", shown, with the seven points (j * cell, cell) for
  // j = 0 to 6. False when the map has no room for it (or the name is taken).
  bool PaintCell(int32_t cell, uint32_t color);

  // A copy of a curve's points, safe on any thread; empty when out of range.
  std::vector<CDrawPicPoint> CopyPoints(int32_t index) const;

  // Colour, flag and point count of every curve in list order, all taken at
  // one moment.
  std::vector<CDrawPicCurveState> SnapshotCurves() const;

  // Fixed from construction on, so readable without the lock.
  const std::array<CDrawPicCellOrigin, kCellCount> m_cellOrigins;
  const uint32_t m_backColor = 0xFFFFFF;  // white
  const uint32_t m_gridColor = 0xCFB9B3;  // red 179, green 185, blue 207

 private:
  CDrawPicCurve* FindCurveLocked(std::string_view name) const;

  mutable std::mutex m_lock;
  // unique_ptr so that a curve handed out by GetCurve stays where it is
  // while the list grows.
  std::vector<std::unique_ptr<CDrawPicCurve>> m_curves;
  // Names are unique, so a name finds at most one curve: the worker adds
  // seven points to every cell by name, and a walk of the whole list for
  // each would grow with the map while holding the lock paints wait on.
  std::unordered_map<std::string, CDrawPicCurve*> m_byName;
};
