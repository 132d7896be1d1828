// churnmill: the demo load generator. It changes the demo database at a chosen
// rate so that the notify server and the gateways have something to carry.
#include "components/KitApplication.h"
#include "demo/ChurnmillMain.h"
#include "demo/OSUtils.h"
#include "framework/Forms.h"

int main() {
  vexa::TKitClassUnit kitclass;
  vexa::OSUtils::Initialize();
  fw::Application->Initialize();
  fw::Application->SetTitle("Churnmill");
  fw::Application->CreateForm(vexa::FrmChurnmillMain);
  fw::Application->Run();
  fw::DoneApplication();
  vexa::OSUtils::Finalize();
  return 0;
}
