// Ownership, destruction order and free notification.
#include <gtest/gtest.h>

#include <qx/framework/core/Classes.h>

namespace {

std::vector<String>* gLog = nullptr;

class TLogged : public TComponent {
 public:
  using TComponent::TComponent;
  ~TLogged() override {
    if (gLog) gLog->push_back("destroy " + Name());
  }
  void Notification(TComponent* AComponent, TOperation Operation) override {
    TComponent::Notification(AComponent, Operation);
    if (gLog && Operation == opRemove)
      gLog->push_back(Name() + " hears " + AComponent->Name() +
                      (AComponent->IsDestroying() ? " (alive, destroying)" : ""));
  }
};

struct LogScope {
  std::vector<String> log;
  LogScope() { gLog = &log; }
  ~LogScope() { gLog = nullptr; }
};

}  // namespace

TEST(Components, OwnerFreesOwnedLastCreatedFirst) {
  LogScope s;
  auto* root = new TLogged(nullptr);
  root->SetName("Root");
  for (const char* n : {"A", "B", "C"}) (new TLogged(root))->SetName(n);
  ASSERT_EQ(root->ComponentCount(), 3);
  EXPECT_EQ(root->FindComponent("b")->Name(), "B");
  TObject::Free(root);
  std::vector<String> destroys;
  for (auto& l : s.log)
    if (l.rfind("destroy", 0) == 0) destroys.push_back(l);
  EXPECT_EQ(destroys, (std::vector<String>{"destroy C", "destroy B", "destroy A", "destroy Root"}));
}

TEST(Components, FreeNotificationArrivesWhileTheDyingComponentIsWhole) {
  LogScope s;
  TOwned<TLogged> a(new TLogged(nullptr));
  a->SetName("A");
  auto* b = new TLogged(nullptr);
  b->SetName("B");
  b->FreeNotification(a.get());
  TObject::Free(b);
  ASSERT_FALSE(s.log.empty());
  EXPECT_EQ(s.log.front(), "A hears B (alive, destroying)");
  // The link is gone both ways: destroying A later tells nobody.
  s.log.clear();
  a.reset();
  EXPECT_EQ(s.log, (std::vector<String>{"destroy A"}));
}

TEST(Components, SiblingsHearOfARemovedComponent) {
  LogScope s;
  TOwned<TLogged> root(new TLogged(nullptr));
  root->SetName("Root");
  auto* a = new TLogged(root.get());
  a->SetName("A");
  auto* b = new TLogged(root.get());
  b->SetName("B");
  TObject::Free(a);
  EXPECT_NE(std::find(s.log.begin(), s.log.end(), "B hears A (alive, destroying)"), s.log.end());
  EXPECT_NE(std::find(s.log.begin(), s.log.end(), "Root hears A (alive, destroying)"), s.log.end());
  EXPECT_EQ(root->ComponentCount(), 1);
}

TEST(Components, DesigningStateIsInheritedFromTheOwner) {
  TOwned<TComponent> root(new TComponent(nullptr));
  root->SetDesigning(true);
  auto* child = new TComponent(root.get());
  EXPECT_TRUE(child->IsDesigning());
  root->SetDesigning(false);
  EXPECT_FALSE(child->IsDesigning());
}

TEST(Components, NamesAreValidatedAndUniqueInTheOwner) {
  TOwned<TComponent> root(new TComponent(nullptr));
  auto* a = new TComponent(root.get());
  a->SetName("Udp1");
  auto* b = new TComponent(root.get());
  EXPECT_THROW(b->SetName("udp1"), Exception);
  EXPECT_THROW(b->SetName("1abc"), Exception);
  EXPECT_THROW(b->SetName("a b"), Exception);
  b->SetName("Udp2");
  EXPECT_EQ(b->Name(), "Udp2");
}

TEST(StringLists, BasicsTextAndOwnedObjects) {
  TStringList l;
  l.Add("a");
  l.Add("b");
  EXPECT_EQ(l.Count(), 2);
  EXPECT_EQ(l[1], "b");
  EXPECT_EQ(l.Text(), "a\nb\n");
  l.SetText("x\r\ny\rz\n");
  EXPECT_EQ(l.ToVector(), (std::vector<String>{"x", "y", "z"}));
  EXPECT_THROW(l.Get(3), Exception);

  static int freed = 0;
  struct Counted : TObject {
    ~Counted() override { ++freed; }
  };
  {
    TStringList owned(true);
    owned.AddObject("", new Counted);
    owned.AddObject("", new Counted);
    owned.Delete(0);
    EXPECT_EQ(freed, 1);
  }
  EXPECT_EQ(freed, 2);
}

TEST(Events, CompareByObjectAndMethod) {
  struct Target : TObject {
    int hits = 0;
    void A(TObject*) { ++hits; }
    void B(TObject*) { hits += 10; }
  };
  Target t1, t2;
  TNotifyEvent a1(&t1, &Target::A), a1b(&t1, &Target::A), b1(&t1, &Target::B), a2(&t2, &Target::A);
  EXPECT_EQ(a1, a1b);
  EXPECT_NE(a1, b1);
  EXPECT_NE(a1, a2);
  EXPECT_EQ(TNotifyEvent(), TNotifyEvent(nullptr));
  EXPECT_NE(a1, TNotifyEvent());
  a1(nullptr);
  b1(nullptr);
  EXPECT_EQ(t1.hits, 11);
  TNotifyEvent()(nullptr);  // unassigned: nothing happens

  int calls = 0;
  auto l1 = TNotifyEvent::Callable([&](TObject*) { ++calls; });
  auto l2 = TNotifyEvent::Callable([&](TObject*) { ++calls; });
  auto copy = l1;
  EXPECT_EQ(l1, copy);
  EXPECT_NE(l1, l2);
  copy(nullptr);
  EXPECT_EQ(calls, 1);
}

TEST(Events, SaveChainAndRestore) {
  // The pattern components use on each other's handlers: save, install, call saved first, restore.
  struct App : TObject {
    std::vector<String> log;
    void OnClose(TObject*, TCloseAction& a) {
      log.push_back("app");
      a = caNone;
    }
  };
  struct Hook : TObject {
    TCloseEvent Saved;
    std::vector<String>* log;
    void MyOnClose(TObject* s, TCloseAction& a) {
      Saved(s, a);
      log->push_back(a == caNone ? "hook sees caNone" : "hook");
    }
  };
  App app;
  Hook hook;
  hook.log = &app.log;
  TCloseEvent formOnClose(&app, &App::OnClose);
  hook.Saved = formOnClose;
  formOnClose = TCloseEvent(&hook, &Hook::MyOnClose);
  TCloseAction act = caHide;
  formOnClose(nullptr, act);
  EXPECT_EQ(app.log, (std::vector<String>{"app", "hook sees caNone"}));
  formOnClose = hook.Saved;
  EXPECT_EQ(formOnClose, TCloseEvent(&app, &App::OnClose));
}
