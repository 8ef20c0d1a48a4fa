// What a component sees of an owner that closes (a form) without the ui layer: the owner's
// OnClose slot, which the component may take over and give back, and whether the owner has its
// window yet. Forms implement it; a component finds it on its owner by dynamic_cast.
#pragma once

#include <qx/framework/core/Events.h>

class IClosingOwner {
 public:
  virtual TCloseEvent& OwnerOnClose() = 0;
  virtual bool OwnerHasWindow() const = 0;

 protected:
  ~IClosingOwner() = default;
};
