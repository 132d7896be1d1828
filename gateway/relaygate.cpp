// relaygate: the client gateway program. Its first argument names the
// provider channel it serves ("Default" when there is none).
#include <csignal>
#include <string>
#include <vector>

#include "components/KitApplication.h"
#include "framework/Forms.h"
#include "gateway/MainGateway.h"
#include "platform/kernel/Kernel.h"
#include "platform/kernel/ProgramStart.h"
#include "platform/msg/Msg.h"

namespace {

const char* const kUsage =
    "usage: relaygate [<channel>]\n"
    "The client gateway: serves the local client programs of one channel (default\n"
    "\"Default\") and relays the notify server's notifications to them.\n"
    "It finds the notify server in the machine settings, key\n"
    "  HKEY_LOCAL_MACHINE\\Software\\VEXA Software\\Lumidex\\ClientGateway\\<channel>\n"
    "values Address and Port (set them with vexareg write). relaygate.ini beside the\n"
    "program sets [Connection Polling] Duration (minutes, 0 = no limit) and Interval\n"
    "(seconds between connect attempts).\n";

}  // namespace

int main(int argc, char** argv) {
  if (plat::AnswerHelp(argc, argv, kUsage)) return 0;
  // A reader of the trace that goes away must not end the gateway: the
  // lines still reach its trace memo.
  std::signal(SIGPIPE, SIG_IGN);
  if (plat::SessionRefused("relaygate")) return 1;
  plat::RaiseDescriptorLimit();
  vexa::TKitClassUnit kitclass;
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  vexa::SetGatewayArguments(std::move(args));

  fw::Application->Initialize();
  fw::Application->SetTitle("VEXA Client Gateway");
  // Closing the window only hides it, so SIGTERM and SIGINT end the program
  // directly: the loop stops and the form is destroyed (its INI values saved).
  plat::SetCloseRequestHandler([](int) { fw::Application->Terminate(); });
  vexa::TFrmGatewayMain* form = nullptr;
  fw::Application->CreateForm(form);
  const int status = form ? form->ExitCode() : 0;
  fw::Application->Run();
  fw::DoneApplication();
  return plat::ProgramStatus(status);
}
