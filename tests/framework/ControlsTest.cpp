// labels: unit
// Standard and common controls as objects: state, events, update brackets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/ComCtrls.h"
#include "framework/ExtCtrls.h"
#include "framework/Forms.h"
#include "framework/Menus.h"
#include "framework/StdCtrls.h"
#include "tests/support/TestSession.h"

using namespace fw;

class Controls : public testing::Test {
protected:
  vexa::test::TestSession session;
  TForm* form = CreateFormOf<TForm>(nullptr);
  void TearDown() override { delete form; }
};

TEST_F(Controls, MemoLinesChangeOncePerUpdateBracket) {
  auto* memo = new TMemo(form);
  memo->SetParent(form);
  int changes = 0;
  memo->OnChange = [&](TObject* s) {
    EXPECT_EQ(s, memo);
    ++changes;
  };
  memo->Lines()->Add("Opening database: demo.fdb");
  EXPECT_EQ(changes, 1);
  memo->Lines()->BeginUpdate();
  for (int i = 0; i < 5; ++i) memo->Lines()->Add("line " + std::to_string(i));
  memo->Lines()->Delete(0);
  EXPECT_EQ(changes, 1);
  memo->Lines()->EndUpdate();
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(memo->Lines()->Count(), 5);
  EXPECT_EQ(memo->Text(), "line 0\r\nline 1\r\nline 2\r\nline 3\r\nline 4\r\n");
  memo->SetText("a\r\nb");
  EXPECT_EQ(changes, 3);
  EXPECT_EQ(memo->Lines()->Count(), 2);
  memo->Lines()->Clear();
  EXPECT_EQ(changes, 4);
}

TEST_F(Controls, ListViewReportItemsKeepCaptionSubItemsAndData) {
  auto* lv = new TListView(form);
  lv->SetParent(form);
  lv->SetViewStyle(vsReport);
  lv->Columns()->Add()->SetCaption("Table");
  lv->Columns()->Add()->SetCaption("Clients");
  ASSERT_EQ(lv->Columns()->Count(), 2);
  EXPECT_EQ(lv->Columns()->Items(1)->Caption(), "Clients");

  int tag = 5;
  uint32_t before = lv->ChangeCount();
  lv->Items()->BeginUpdate();
  for (int i = 1; i <= 3; ++i) {
    TListItem* it = lv->Items()->Add();
    it->SetCaption("Table " + std::to_string(i));
    it->SubItems()->Add(std::to_string(i * 10));
    if (i == 2) it->SetData(&tag);
  }
  EXPECT_EQ(lv->ChangeCount(), before) << "no repaint inside the bracket";
  lv->Items()->EndUpdate();
  EXPECT_EQ(lv->ChangeCount(), before + 1);
  ASSERT_EQ(lv->Items()->Count(), 3);
  TListItem* second = lv->Items()->Item(1);
  EXPECT_EQ(second->Caption(), "Table 2");
  EXPECT_EQ(second->SubItems()->Strings(0), "20");
  EXPECT_EQ(second->Data(), &tag);
  EXPECT_EQ(second->Index(), 1);

  std::vector<TListItem*> deleted;
  lv->OnDeletion = [&](TObject*, TListItem* it) { deleted.push_back(it); };
  second->SetSelected(true);
  EXPECT_EQ(lv->Selected(), second);
  second->SubItems()->Strings(0);
  uint32_t c = lv->ChangeCount();
  second->SubItems()->Add("more");
  EXPECT_GT(lv->ChangeCount(), c) << "a sub-item change repaints";
  second->Delete();
  EXPECT_EQ(deleted, std::vector<TListItem*>{second});
  EXPECT_EQ(lv->Selected(), nullptr);
  EXPECT_EQ(lv->Items()->Count(), 2);
  EXPECT_EQ(lv->Items()->Item(1)->Caption(), "Table 3");
  EXPECT_THROW(lv->Items()->Item(2), EListError);
  lv->Items()->Clear();
  EXPECT_EQ(lv->Items()->Count(), 0);
}

TEST_F(Controls, PageControlShowsOnePageAndAsksBeforeAUserChange) {
  auto* pc = new TPageControl(form);
  pc->SetParent(form);
  auto* messages = new TTabSheet(form);
  messages->SetCaption("Notification Messages");
  messages->SetPageControl(pc);
  auto* log = new TTabSheet(form);
  log->SetCaption("Event Log");
  log->SetPageControl(pc);
  ASSERT_EQ(pc->PageCount(), 2);
  EXPECT_EQ(pc->ActivePage(), messages);
  EXPECT_TRUE(messages->Visible());
  EXPECT_FALSE(log->Visible());
  EXPECT_EQ(log->PageIndex(), 1);

  bool allow = false;
  int changes = 0;
  pc->OnChanging = [&](TObject*, bool& a) { a = allow; };
  pc->OnChange = [&](TObject*) { ++changes; };
  pc->SelectNextPage(true);
  EXPECT_EQ(pc->ActivePage(), messages);
  allow = true;
  pc->SelectNextPage(true);
  EXPECT_EQ(pc->ActivePage(), log);
  EXPECT_EQ(changes, 1);
  pc->SetActivePageIndex(0);
  EXPECT_EQ(pc->ActivePage(), messages);
  EXPECT_EQ(changes, 1) << "a program's own change fires no event";
  delete messages;
  EXPECT_EQ(pc->PageCount(), 1);
  EXPECT_EQ(pc->ActivePage(), log);
}

TEST_F(Controls, UpDownKeepsItsEditWithinRangeWithoutWrapping) {
  auto* edit = new TEdit(form);
  edit->SetParent(form);
  auto* ud = new TUpDown(form);
  ud->SetParent(form);
  ud->SetMin(1);
  ud->SetMax(100);
  ud->SetAssociate(edit);
  EXPECT_EQ(ud->Position(), 1);
  EXPECT_EQ(edit->Text(), "1");
  ud->SetPosition(250);
  EXPECT_EQ(ud->Position(), 100);
  EXPECT_EQ(edit->Text(), "100");
  ud->ClickButton(btNext);
  EXPECT_EQ(ud->Position(), 100) << "no wrap at the top";
  ud->ClickButton(btPrev);
  EXPECT_EQ(edit->Text(), "99");
  edit->SetText("42");
  EXPECT_EQ(ud->Position(), 42) << "a valid number typed in the edit counts";
  edit->SetText("abc");
  EXPECT_EQ(ud->Position(), 42);
  ud->SetPosition(1);
  ud->ClickButton(btPrev);
  EXPECT_EQ(ud->Position(), 1) << "no wrap at the bottom";
  ud->SetMax(5000);
  ud->SetPosition(1234);
  EXPECT_EQ(edit->Text(), "1,234");
  EXPECT_EQ(ud->Position(), 1234);
  delete edit;
  EXPECT_EQ(ud->Associate(), nullptr);
}

TEST_F(Controls, MenuItemsClickAndGoWithTheirParent) {
  auto* menu = new TMainMenu(form);
  auto* file = new TMenuItem(form);
  file->SetCaption("&File");
  menu->Items()->Add(file);
  auto* close = new TMenuItem(form);
  close->SetCaption("&Close");
  int clicks = 0;
  close->OnClick = [&](TObject* s) {
    EXPECT_EQ(s, close);
    ++clicks;
  };
  file->Add(close);
  EXPECT_EQ(menu->Items()->Find("File"), file);
  EXPECT_EQ(file->Find("close"), close);
  close->Click();
  close->SetEnabled(false);
  close->Click();
  EXPECT_EQ(clicks, 1);
  int owned = form->ComponentCount();
  delete file;
  EXPECT_EQ(menu->Items()->Count(), 0);
  EXPECT_EQ(form->ComponentCount(), owned - 2) << "the sub-item went with its parent";
  auto* popup = new TPopupMenu(form);
  bool popped = false;
  popup->OnPopup = [&](TObject*) { popped = true; };
  popup->Popup(10, 10);
  EXPECT_TRUE(popped);
}

TEST_F(Controls, ButtonsAndCheckBoxes) {
  auto* cb = new TCheckBox(form);
  cb->SetParent(form);
  int clicks = 0;
  cb->OnClick = [&](TObject*) { ++clicks; };
  cb->SetChecked(true);
  cb->SetChecked(true);
  EXPECT_EQ(clicks, 1);
  cb->Toggle();
  EXPECT_FALSE(cb->Checked());
  EXPECT_EQ(clicks, 2);

  auto* ok = new TButton(form);
  ok->SetParent(form);
  ok->SetModalResult(mrOk);
  bool clicked = false;
  ok->OnClick = [&](TObject*) { clicked = true; };
  ok->Click();
  EXPECT_TRUE(clicked);
  EXPECT_EQ(form->ModalResult(), mrOk);
}

TEST_F(Controls, AlignmentAndParentsOfControls) {
  form->SetBounds(0, 0, 400, 300);
  auto* top = new TPanel(form);
  top->SetParent(form);
  top->SetHeight(40);
  top->SetAlign(alTop);
  auto* client = new TPanel(form);
  client->SetParent(form);
  client->SetAlign(alClient);
  EXPECT_EQ(top->BoundsRect(), Rect(0, 0, 400, 40));
  EXPECT_EQ(client->BoundsRect(), Rect(0, 40, 400, 300));
  form->SetBounds(0, 0, 500, 200);
  EXPECT_EQ(client->BoundsRect(), Rect(0, 40, 500, 200));
  int resized = 0;
  client->OnResize = [&](TObject*) { ++resized; };
  top->SetVisible(false);
  EXPECT_EQ(client->BoundsRect(), Rect(0, 0, 500, 200));
  EXPECT_EQ(resized, 1);

  auto* label = new TLabel(form);
  label->SetParent(client);
  EXPECT_EQ(client->ControlCount(), 1);
  delete label;
  EXPECT_EQ(client->ControlCount(), 0) << "a freed control leaves its parent";
  auto* edit = new TEdit(form);
  edit->SetParent(client);
  HWND h = edit->Handle();
  EXPECT_EQ(plat::GetParent(h), client->Handle());
  EXPECT_EQ(FindControl(h), edit);
  int owned = form->ComponentCount();
  delete client;  // frees the controls placed on it
  EXPECT_EQ(form->ComponentCount(), owned - 2);
  EXPECT_FALSE(plat::IsWindow(h));
}

TEST_F(Controls, BoundsFollowTheWindowWhenItIsMovedFromOutside) {
  int resized = 0;
  form->OnResize = [&](TObject*) { ++resized; };
  plat::MoveWindow(form->Handle(), 10, 20, 300, 200, true);
  EXPECT_EQ(form->BoundsRect(), Rect(10, 20, 310, 220));
  EXPECT_EQ(resized, 1);
  form->SetBounds(5, 6, 100, 50);
  plat::RECT r;
  ASSERT_TRUE(plat::GetWindowRect(form->Handle(), &r));
  EXPECT_EQ(r.left, 5);
  EXPECT_EQ(r.right, 105);
  EXPECT_EQ(resized, 2);
}

TEST_F(Controls, MessagesByNumberReachTheirHandlers) {
  int got = 0;
  form->SetMessageHandler(plat::WM_USER + 2, [&](TMessage& m) {
    got = m.WParam;
    m.Result = 9;
  });
  EXPECT_EQ(form->Perform(plat::WM_USER + 2, 4, 0), 9);
  EXPECT_EQ(got, 4);
  EXPECT_EQ(plat::SendMessage(form->Handle(), plat::WM_USER + 2, 6, 0), 9);
  EXPECT_EQ(got, 6);
  form->SetMessageHandler(plat::WM_USER + 2, nullptr);
  EXPECT_FALSE(form->HasMessageHandler(plat::WM_USER + 2));
  form->SetCaption("Beaconhub");
  EXPECT_EQ(plat::GetWindowText(form->Handle()), "Beaconhub");
  // A control goes only with its form: another program's close requests
  // leave its window in place.
  auto* memo = new TMemo(form);
  memo->SetParent(form);
  const HWND h = memo->Handle();
  plat::SendMessage(h, plat::WM_CLOSE, 0, 0);
  plat::SendMessage(h, plat::WM_SYSCOMMAND, plat::SC_CLOSE, 0);
  EXPECT_TRUE(plat::IsWindow(h));
}
