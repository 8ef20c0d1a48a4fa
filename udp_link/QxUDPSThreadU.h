// TQxUDPSThread: an empty worker thread class kept in the package for applications that derive
// their own threads from it; nothing in the package creates one.
#pragma once

#include <qx/framework/threads/Threads.h>

class TQxUDPS;

class TQxUDPSThread : public TThread {
 public:
  TQxUDPSThread(TQxUDPS* AQxUDPS, bool Suspended);

 protected:
  ~TQxUDPSThread() override;

 public:
 protected:
  void Execute() override;

 private:
  TQxUDPS* FQxUDPS;
};
