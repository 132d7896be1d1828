// A test of one form on a private Xvfb, driven by real X input.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "framework/Controls.h"
#include "framework/Forms.h"
#include "platform/display/Display.h"
#include "tests/gui/XvfbServer.h"
#include "tests/support/AppPump.h"
#include "tests/support/TestSession.h"

namespace vexa::test {

class FormOnXvfb : public ::testing::Test {
protected:
  FormOnXvfb(std::string caption, int left, int top, int width, int height)
      : FCaption(std::move(caption)), FLeft(left), FTop(top), FWidth(width), FHeight(height) {}

  void SetUp() override {
    ASSERT_TRUE(xvfb.Running()) << "Xvfb did not start";
    fw::Application->Initialize();
    ASSERT_TRUE(plat::DisplayIsX11());
    ASSERT_TRUE(fw::DisplayAvailable());
    input = std::make_unique<XInput>();
    ASSERT_NE(input->Dpy(), nullptr);
    form = fw::CreateFormOf<fw::TForm>(nullptr);
    form->SetCaption(FCaption);
    form->SetBounds(FLeft, FTop, FWidth, FHeight);
  }
  void TearDown() override {
    if (form) fw::Free(form);
    plat::ShutdownDisplay();
  }

  unsigned long XWin() { return plat::GetDisplayWindowId(form->Handle()); }
  void ShowAndWait() {
    form->Show();
    ASSERT_TRUE(ScreenPumpUntil([&] { return XWin() != 0 && input->Viewable(XWin()); }));
  }
  // A control of type T on the form (or on parent) at the given bounds.
  template <class T>
  T* Add(int left, int top, int width, int height, fw::TWinControl* parent = nullptr) {
    auto* c = new T(form);
    c->SetParent(parent ? parent : form);
    c->SetBounds(left, top, width, height);
    return c;
  }

  TestSession session;
  XvfbServer xvfb;
  std::unique_ptr<XInput> input;
  fw::TForm* form = nullptr;

private:
  std::string FCaption;
  int FLeft, FTop, FWidth, FHeight;
};

}  // namespace vexa::test
