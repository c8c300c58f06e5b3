// romsetter-cli: the upgrade job from a terminal, for scripted and headless use.
#include <chrono>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#define ROMSETTER_ISATTY(f) _isatty(_fileno(f))
#else
#include <csignal>
#include <unistd.h>
#define ROMSETTER_ISATTY(f) isatty(fileno(f))
#endif

#include "app/cli/cli_options.h"
#include "app/cli/cli_window.h"
#include "app/cli/commands.h"
#include "app/cli/device_run.h"
#include "app/cli/device_wiring.h"

namespace romsetter {
namespace {

const char* CommandName(CliCommand command) {
  switch (command) {
    case CliCommand::Upgrade: return "upgrade";
    case CliCommand::Extract: return "extract";
    case CliCommand::Header: return "header";
    case CliCommand::Info: return "info";
    case CliCommand::Pack: return "pack";
    case CliCommand::Unpack: return "unpack";
    case CliCommand::None: break;
  }
  return "";
}

int Run(int argc, const char* const* argv) {
  const auto started = std::chrono::steady_clock::now();
#ifndef _WIN32
  // A reader that goes away (`| head`) must not end a job mid-upgrade: a write to the closed
  // pipe fails instead, the job goes on, and its log file and exit status stay complete.
  std::signal(SIGPIPE, SIG_IGN);
#endif
  // Known before parsing, so even a refused command line answers in the form asked for.
  bool json = false;
  for (int i = 1; i < argc; ++i) json = json || std::strcmp(argv[i], "--json") == 0;
  CliWindow window(stdout, stderr, json ? CliOutput::Json : CliOutput::Plain, ROMSETTER_ISATTY(stderr) != 0);
  window.SetHelpHint(CliHelpHint(argc, argv));

  CliOptions o;
  std::string error;
  std::string printed;
  int status = kExitRefused;
  switch (ParseCliOptions(argc, argv, o, error, printed)) {
    case CliParse::Printed:
      std::fputs(printed.c_str(), stdout);
      return kExitSuccess;
    case CliParse::Refused:
      window.Error(error);
      status = o.refusalStatus;
      break;
    case CliParse::Run: {
      RealDeviceGuard guard;
      if (!guard.Take(o, window)) {
        status = kExitNoDevice;
        break;
      }
      status = o.command == CliCommand::Unpack
                   ? RunUnpack(o, window)
                   : RunDevices(o, window, ROMSETTER_ISATTY(stdin) != 0, ROMSETTER_ISATTY(stderr) != 0);
      break;
    }
  }
  window.Result(CommandName(o.command), status,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
  return status;
}

}  // namespace
}  // namespace romsetter

int main(int argc, char** argv) { return romsetter::Run(argc, argv); }
