#pragma once
// SIGINT, SIGTERM and SIGHUP as the Stop button: the handler only notes the signal;
// the main thread asks for it and stops the run.
class StopSignals {
 public:
  // Installs the handlers (once per process).
  StopSignals();
  // The signal that came, 0 while none did.
  int Received() const;
  // Blocks the signals on the calling thread while it lives, so that a
  // thread started meanwhile (the worker) never takes one: only the main
  // thread is interrupted, never a read.
  class BlockedHere {
   public:
    BlockedHere();
    ~BlockedHere();
    BlockedHere(const BlockedHere&) = delete;
    BlockedHere& operator=(const BlockedHere&) = delete;

   private:
    unsigned char m_previous[128];  // the sigset_t it replaced
  };
};
