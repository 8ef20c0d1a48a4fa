// TBox: a plain component that nests other boxes under itself the way controls nest by parent,
// for form-file tests and benchmarks that need deep nesting without a window system.
#pragma once

#include <algorithm>

#include "framework/core/Classes.h"

class TBox : public TComponent {
  QX_CLASS(TBox)
  using TComponent::TComponent;
  ~TBox() override {
    if (FParentBox != nullptr) {
      auto& kids = FParentBox->FKids;
      kids.erase(std::find(kids.begin(), kids.end(), this));
    }
    for (TBox* k : FKids) k->FParentBox = nullptr;
  }
  int32_t FSize = 0;
  void SetSize(int32_t v) { FSize = v; }

  TComponent* GetParentComponent() const override { return FParentBox; }
  void SetParentComponent(TComponent* p) override {
    if (auto* box = dynamic_cast<TBox*>(p)) {
      FParentBox = box;
      box->FKids.push_back(this);
    }
  }
  void GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root) override {
    for (TBox* k : FKids)
      if (k->Owner() == root) proc(k);
    TComponent::GetChildren(proc, root);
  }

 private:
  TBox* FParentBox = nullptr;
  std::vector<TBox*> FKids;
};

inline QX_DEFINE_CLASS(TBox, TComponent, [](TPropsBuilder<TBox>& p) {
  p.Integer("Size", &TBox::FSize, &TBox::SetSize, 0);
})
