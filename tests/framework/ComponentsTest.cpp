// labels: unit
// Ownership, notifications and loading of components; Assign errors.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/Classes.h"

using namespace fw;

namespace {

std::vector<std::string>* gLog = nullptr;

// A component that records its destruction and the removals it is told of.
class TProbe : public TComponent {
public:
  TProbe(TComponent* AOwner, std::string tag) : TComponent(AOwner), FTagName(std::move(tag)) {}
  ~TProbe() override {
    if (gLog) gLog->push_back("free " + FTagName);
  }
  TComponent* Ref = nullptr;
  std::vector<std::string> Heard;
  int LoadedCalls = 0;
  bool WasLoadingAtLoaded = false;

  void Hold(TComponent* c) {
    Ref = c;
    c->FreeNotification(this);
  }

protected:
  void Notification(TComponent* AComponent, TOperation Operation) override {
    TComponent::Notification(AComponent, Operation);
    Heard.push_back(std::string(Operation == opInsert ? "insert " : "remove ") +
                    (AComponent->Name().empty() ? "?" : AComponent->Name()));
    if (Operation == opRemove && AComponent == Ref) Ref = nullptr;
  }
  void Loaded() override {
    WasLoadingAtLoaded = ComponentState().Contains(csLoading);
    ++LoadedCalls;
    TComponent::Loaded();
  }

private:
  std::string FTagName;
};

class TOther : public TPersistent {};

}  // namespace

TEST(Components, OwnerFreesComponentsLastFirstAndClearsReferencesHeldElsewhere) {
  std::vector<std::string> log;
  gLog = &log;
  auto* holder = new TProbe(nullptr, "holder");
  auto* owner = new TProbe(nullptr, "owner");
  auto* a = new TProbe(owner, "a");
  auto* b = new TProbe(owner, "b");
  auto* c = new TProbe(owner, "c");
  ASSERT_EQ(owner->ComponentCount(), 3);
  EXPECT_EQ(owner->Components(0), a);
  EXPECT_EQ(owner->Components(2), c);
  EXPECT_EQ(b->Owner(), owner);
  EXPECT_EQ(b->ComponentIndex(), 1);
  holder->Hold(b);

  delete owner;
  EXPECT_EQ(log, (std::vector<std::string>{"free owner", "free c", "free b", "free a"}));
  EXPECT_EQ(holder->Ref, nullptr) << "the holder of a reference to b is told when b goes";
  EXPECT_EQ(holder->FreeNotifyCount(), 0);
  delete holder;
  gLog = nullptr;
}

TEST(Components, ComponentFreedOnItsOwnLeavesItsOwnerAndSiblingsHearOfIt) {
  TProbe owner(nullptr, "owner");
  auto* a = new TProbe(&owner, "a");
  auto* b = new TProbe(&owner, "b");
  a->SetName("A");
  b->SetName("B");
  a->Ref = b;  // a sibling reference, cleared through the owner's notification
  delete b;
  ASSERT_EQ(owner.ComponentCount(), 1);
  EXPECT_EQ(owner.Components(0), a);
  EXPECT_EQ(a->Ref, nullptr);
  ASSERT_FALSE(owner.Heard.empty());
  EXPECT_EQ(owner.Heard.back(), "remove B");
  EXPECT_THROW(owner.Components(1), EListError);
}

TEST(Components, HolderFreedFirstIsForgottenByTheComponentItWatched) {
  auto* watched = new TProbe(nullptr, "watched");
  auto* holder = new TProbe(nullptr, "holder");
  holder->Hold(watched);
  EXPECT_EQ(watched->FreeNotifyCount(), 1);
  delete holder;
  EXPECT_EQ(watched->FreeNotifyCount(), 0);
  delete watched;  // must not call the freed holder
}

TEST(Components, InsertAndRemoveMoveBetweenOwnersAndNamesAreUniquePerOwner) {
  TProbe first(nullptr, "first");
  TProbe second(nullptr, "second");
  auto* c = new TProbe(&first, "c");
  c->SetName("Timer1");
  EXPECT_EQ(first.FindComponent("TIMER1"), c);
  second.InsertComponent(c);
  EXPECT_EQ(first.ComponentCount(), 0);
  EXPECT_EQ(c->Owner(), &second);
  EXPECT_EQ(second.Heard.back(), "insert Timer1");
  EXPECT_EQ(first.FindComponent("Timer1"), nullptr);
  auto* d = new TProbe(&second, "d");
  EXPECT_THROW(d->SetName("timer1"), EComponentError);
  // A renamed component is found by its new name only, and frees its old one.
  c->SetName("Clock");
  c->SetName("CLOCK");
  EXPECT_EQ(second.FindComponent("clock"), c);
  d->SetName("timer1");
  EXPECT_EQ(second.FindComponent("Timer1"), d);
  second.RemoveComponent(c);
  EXPECT_EQ(second.FindComponent("Clock"), nullptr);
  EXPECT_EQ(c->Owner(), nullptr);
  delete c;
  EXPECT_EQ(second.ComponentCount(), 1);
}

TEST(Components, EndLoadingCallsLoadedOnLoadingComponentsThenTheOwner) {
  TProbe owner(nullptr, "owner");
  owner.BeginLoading();
  auto* a = new TProbe(&owner, "a");
  EXPECT_TRUE(a->ComponentState().Contains(csLoading));
  owner.EndLoading();
  EXPECT_EQ(a->LoadedCalls, 1);
  EXPECT_TRUE(a->WasLoadingAtLoaded);
  EXPECT_FALSE(a->ComponentState().Contains(csLoading));
  EXPECT_EQ(owner.LoadedCalls, 1);
  auto* later = new TProbe(&owner, "later");
  EXPECT_FALSE(later->ComponentState().Contains(csLoading));
}

TEST(Components, DestroyingStateReachesOwnedComponentsBeforeTheyAreFreed) {
  struct TWatch : TComponent {
    using TComponent::TComponent;
    bool* Seen = nullptr;
    ~TWatch() override { *Seen = ComponentState().Contains(csDestroying); }
  };
  bool seen = false;
  auto* owner = new TComponent(nullptr);
  auto* w = new TWatch(owner);
  w->Seen = &seen;
  delete owner;
  EXPECT_TRUE(seen);
}

TEST(Components, AssignBetweenUnrelatedClassesNamesBoth) {
  TOther a;
  TStringList list;
  try {
    list.Assign(&a);
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Cannot assign a TOther to a TStringList");
    EXPECT_STREQ(e.ClassName(), "EConvertError");
  }
  try {
    a.Assign(nullptr);
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Cannot assign a nil to a TOther");
  }
}
