// Components for form-file tests, fuzzing and benchmarks, without a window system: TBox nests
// other boxes under itself the way controls nest by parent; TProbe has a property of every kind;
// TProbeForm is a root that publishes methods for events.
#pragma once

#include <algorithm>
#include <functional>

#include <qx/framework/core/Classes.h>
#include <qx/framework/core/Events.h>

class TBox : public TComponent {
  QX_CLASS(TBox)
  using TComponent::TComponent;

 protected:
  ~TBox() override {
    if (FParentBox != nullptr) {
      auto& kids = FParentBox->FKids;
      kids.erase(std::find(kids.begin(), kids.end(), this));
    }
    for (TBox* k : FKids) k->FParentBox = nullptr;
  }

 public:
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

inline QX_DEFINE_CLASS(TBox, TComponent,
                       [](TPropsBuilder<TBox>& p) {
                         p.Integer("Size", &TBox::FSize, &TBox::SetSize, 0);
                       })

    class TProbe : public TComponent {
  QX_CLASS(TProbe)
  // Counters of Loaded calls (TProbe and TProbeForm) and of living probes.
  static inline int LoadedCalls = 0;
  static inline int Living = 0;
  explicit TProbe(TComponent* AOwner) : TComponent(AOwner) { ++Living; }

 protected:
  ~TProbe() override { --Living; }

 public:
  int32_t FSigned = 0;
  uint32_t FUnsigned = 0;
  uint32_t FFlags = 0;
  TAlign FAlign = alNone;
  TColor FColor = clBlack;
  String FText;
  TStringList FLines;
  TComponent* FLink = nullptr;
  TNotifyEvent FOnPoke;

  void SetSigned(int32_t v) { FSigned = v; }
  void SetUnsigned(uint32_t v) { FUnsigned = v; }
  void SetFlags(uint32_t v) { FFlags = v; }
  void SetAlign(TAlign v) { FAlign = v; }
  void SetColor(TColor v) { FColor = v; }
  void SetText(const String& v) { FText = v; }
  void SetLines(TStrings* v) { FLines.Assign(v); }
  void SetLink(TComponent* v) { FLink = v; }
  void SetOnPoke(const TNotifyEvent& e) { FOnPoke = e; }
  void Loaded() override {
    ++TProbe::LoadedCalls;
    TComponent::Loaded();
  }
};

inline QX_DEFINE_CLASS(TProbe, TComponent,
                       [](TPropsBuilder<TProbe>& p) {
                         p.Integer("Signed", &TProbe::FSigned, &TProbe::SetSigned, 0);
                         p.Integer("Unsigned", &TProbe::FUnsigned, &TProbe::SetUnsigned, 0);
                         p.Set("Flags", {"fA", "fB", "fC"}, &TProbe::FFlags, &TProbe::SetFlags, 0);
                         p.Enum("Align",
                                {"alNone", "alTop", "alBottom", "alLeft", "alRight", "alClient"},
                                &TProbe::FAlign, &TProbe::SetAlign, alNone);
                         p.Color("Color", &TProbe::FColor, &TProbe::SetColor, clBlack);
                         p.Text("Text", &TProbe::FText, &TProbe::SetText);
                         p.Strings(
                             "Lines",
                             [](const TProbe* o) { return const_cast<TStringList*>(&o->FLines); },
                             &TProbe::SetLines);
                         p.Reference<TComponent>("Link", &TProbe::FLink, &TProbe::SetLink);
                         p.Event<TNotifyEvent>("OnPoke", &TProbe::FOnPoke, &TProbe::SetOnPoke);
                       })

    class TProbeForm : public TComponent {
  QX_CLASS(TProbeForm)
 protected:
  ~TProbeForm() override = default;

 public:
  using TComponent::TComponent;
  void Poke(TObject*) {}
  void Prod(TObject*) {}
  void Loaded() override {
    ++TProbe::LoadedCalls;
    TComponent::Loaded();
  }
};

inline QX_DEFINE_CLASS(TProbeForm, TComponent, [](TPropsBuilder<TProbeForm>& p) {
  p.Method("Poke", &TProbeForm::Poke);
  p.Method("Prod", &TProbeForm::Prod);
})
