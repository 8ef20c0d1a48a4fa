// What a control asks of the top-level control it is painted on: repaints, and a context on its
// current frame for drawing outside Paint. Controls reach their form only through this, so that
// they sit beneath forms and never need them.
#pragma once

struct _cairo;

class IControlHost {
 public:
  // A repaint at the next turn of the loop.
  virtual void InvalidateFrame() = 0;
  // Composes the frame now if a repaint was asked for, and shows it.
  virtual void Update() = 0;
  // Shows the current frame again at the next turn of the loop (after drawing on it outside
  // Paint).
  virtual void SchedulePresent() = 0;
  // The current frame's canvas context for drawing outside Paint (nullptr if none).
  virtual _cairo* FrameContext() = 0;

 protected:
  virtual ~IControlHost() = default;
};
