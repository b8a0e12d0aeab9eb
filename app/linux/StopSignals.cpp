#include "app/linux/StopSignals.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cstring>

namespace {
std::atomic<int> g_stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free flag");
static_assert(sizeof(sigset_t) <= 128, "room for the saved signal mask");

extern "C" void OnStopSignal(int signal) { g_stopSignal.store(signal, std::memory_order_relaxed); }

sigset_t StopSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}
}  // namespace

StopSignals::StopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  // A closed terminal or a dropped ssh session stops the run the same way:
  // the report is still written.
  sigaction(SIGHUP, &action, nullptr);
}

int StopSignals::Received() const { return g_stopSignal.load(std::memory_order_relaxed); }

StopSignals::BlockedHere::BlockedHere() {
  const sigset_t set = StopSet();
  sigset_t previous;
  pthread_sigmask(SIG_BLOCK, &set, &previous);
  std::memcpy(m_previous, &previous, sizeof previous);
}

StopSignals::BlockedHere::~BlockedHere() {
  sigset_t previous;
  std::memcpy(&previous, m_previous, sizeof previous);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}
