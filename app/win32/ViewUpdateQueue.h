#pragma once
// What the scan worker asks of the window, handed to the window's thread.
//
// The worker must never wait for the window: a window that is closing waits
// for the worker, so a worker waiting for the window would never end. The
// worker therefore only appends its request here (a short lock, no window
// call) and, when the queue was empty, posts one wake-up message; the window
// thread takes everything queued at once and applies it in order.
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

struct ViewUpdate {
  enum class Kind { SetText, Enable, Show, ShellOpen, MessageBox };
  Kind kind;
  int controlId;     // SetText, Enable, Show
  bool flag;         // Enable, Show
  std::string text;  // SetText, MessageBox (code page 936), ShellOpen (file name)

  bool operator==(const ViewUpdate&) const = default;
};

class CViewUpdateQueue {
 public:
  // Appends an update. True when the window thread has to be woken (nothing
  // was waiting for it yet); the caller then posts the wake-up, and calls
  // WakeFailed if that post did not go out so that the next push tries again.
  bool Push(ViewUpdate update);
  void WakeFailed();

  // Everything queued, oldest first, with the texts of one control reduced to
  // the last one (only the last text of a label is ever seen). Ends the
  // pending wake-up.
  std::vector<ViewUpdate> TakeAll();

  size_t Size() const;

 private:
  mutable std::mutex m_lock;
  std::vector<ViewUpdate> m_updates;
  bool m_bWakePending = false;
};
