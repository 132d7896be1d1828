// labels: unit
// Subclassing the owner form's window: messages pass through the hook to the
// form, hooks chain, unhooking in any order keeps the others working, and the
// rules of Hook, Enabled and WM_DESTROY.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "components/KitWndProcComponent.h"
#include "framework/Forms.h"
#include "tests/support/TestSession.h"

using namespace vexa;

namespace {

constexpr fw::UINT WM_PROBE = plat::WM_USER + 40;

// Notes each message it sees, then passes it on.
class TProbeHook : public TKitWndProcComponent {
public:
  TProbeHook(fw::TComponent* AOwner, std::string AName, std::vector<std::string>* ALog)
      : TKitWndProcComponent(AOwner), Name(std::move(AName)), Log(ALog) {}
  void HookWndProc(fw::TMessage& Message) override {
    if (Message.Msg == WM_PROBE) Log->push_back(Name);
    TKitWndProcComponent::HookWndProc(Message);
  }
  std::string Name;
  std::vector<std::string>* Log;
};

struct HookFixture : ::testing::Test {
  vexa::test::TestSession session;
  fw::TForm* form = nullptr;
  std::vector<std::string> log;
  void SetUp() override {
    unsetenv("DISPLAY");
    form = fw::CreateFormOf<fw::TForm>(nullptr);
    form->SetMessageHandler(WM_PROBE, [this](fw::TMessage& m) {
      log.push_back("form");
      m.Result = 77;
    });
  }
  void TearDown() override { fw::Free(form); }
  int32_t Probe() { return plat::SendMessage(form->Handle(), WM_PROBE, 0, 0); }
};

}  // namespace

TEST_F(HookFixture, MessagesPassThroughTheHookToTheFormWithItsResult) {
  auto* a = new TProbeHook(form, "a", &log);
  EXPECT_FALSE(a->Hooked()) << "made outside loading: hooks on demand";
  ASSERT_TRUE(a->Hook());
  EXPECT_FALSE(a->Hook()) << "already hooked";
  EXPECT_EQ(Probe(), 77);
  EXPECT_EQ(log, (std::vector<std::string>{"a", "form"}));
  a->Unhook();
  log.clear();
  EXPECT_EQ(Probe(), 77);
  EXPECT_EQ(log, (std::vector<std::string>{"form"}));
}

TEST_F(HookFixture, HooksChainAndUnhookInAnyOrder) {
  auto* a = new TProbeHook(form, "a", &log);
  auto* b = new TProbeHook(form, "b", &log);
  ASSERT_TRUE(a->Hook());
  ASSERT_TRUE(b->Hook());
  EXPECT_EQ(Probe(), 77);
  EXPECT_EQ(log, (std::vector<std::string>{"b", "a", "form"}));

  // The first hook goes while the second sits in front of it: the second
  // keeps working and the form still gets everything.
  a->Unhook();
  log.clear();
  EXPECT_EQ(Probe(), 77);
  EXPECT_EQ(log, (std::vector<std::string>{"b", "form"}));
  fw::Free(a);
  log.clear();
  EXPECT_EQ(Probe(), 77);
  EXPECT_EQ(log, (std::vector<std::string>{"b", "form"})) << "no call into a freed hook";

  b->Unhook();
  log.clear();
  EXPECT_EQ(Probe(), 77);
  EXPECT_EQ(log, (std::vector<std::string>{"form"}));

  // Last in, first out puts the form's own procedure back.
  auto* c = new TProbeHook(form, "c", &log);
  auto* d = new TProbeHook(form, "d", &log);
  c->Hook();
  d->Hook();
  d->Unhook();
  c->Unhook();
  log.clear();
  Probe();
  EXPECT_EQ(log, (std::vector<std::string>{"form"}));
  // A hook freed with its owner's other components unhooks itself.
  c->Hook();
  fw::Free(c);
  log.clear();
  Probe();
  EXPECT_EQ(log, (std::vector<std::string>{"form"}));
}

TEST_F(HookFixture, LoadingHooksAndEnabledRules) {
  auto* loaded = new fw::TForm(nullptr);  // loading until construction ends
  auto* h = new TProbeHook(loaded, "h", &log);
  EXPECT_FALSE(h->Hooked());
  loaded->AfterConstruction();
  EXPECT_TRUE(h->Hooked()) << "hooked once the form is loaded";

  h->SetEnabled(false);
  EXPECT_TRUE(h->Hooked()) << "clearing Enabled alone leaves the subclass";
  h->SetEnabled(true);
  h->RemoveHook();
  EXPECT_FALSE(h->Hooked());
  EXPECT_FALSE(h->Enabled());
  h->SetEnabled(true);
  EXPECT_TRUE(h->Hooked()) << "enabling hooks again";
  fw::Free(loaded);

  fw::TComponent plain(nullptr);
  TProbeHook orphan(&plain, "o", &log);
  EXPECT_EQ(orphan.GetOwnerWindow(), 0u);
  EXPECT_FALSE(orphan.Hook()) << "no owner window";

  auto* designed = new TProbeHook(form, "x", &log);
  designed->SetDesigning(true);
  EXPECT_FALSE(designed->Hook());
  designed->SetAllowedInDesigner(true);
  EXPECT_TRUE(designed->Hook());
  designed->SetAllowedInDesigner(false);
  designed->UnhookInDesigner();
  EXPECT_FALSE(designed->Hooked());

  EXPECT_FALSE(designed->HookMainWindow());
  auto* runtime = new TProbeHook(form, "r", &log);
  runtime->SetHookMainWindow(true);
  EXPECT_FALSE(runtime->HookMainWindow()) << "only while designing or loading";
}

TEST_F(HookFixture, MessagesAfterDestroyAreDropped) {
  auto* a = new TProbeHook(form, "a", &log);
  ASSERT_TRUE(a->Hook());
  EXPECT_EQ(a->FormKind(), 0);
  // A WM_DESTROY another program sends the living window changes nothing.
  plat::SendMessage(form->Handle(), plat::WM_DESTROY, 0, 0);
  EXPECT_FALSE(a->WindowDestroyed());
  EXPECT_EQ(Probe(), 77);
  log.clear();
  form->DestroyHandle();
  EXPECT_TRUE(a->WindowDestroyed());
  fw::TMessage m{WM_PROBE, 0, 0, 5};
  a->HookWndProc(m);
  EXPECT_EQ(log, (std::vector<std::string>{"a"})) << "nothing passes after WM_DESTROY";
  EXPECT_EQ(m.Result, 5) << "the result is left alone";
  a->Unhook();
  EXPECT_FALSE(a->WindowDestroyed());
}
