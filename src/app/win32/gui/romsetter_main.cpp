// Romsetter.exe: decides whether the program file is a package, asks before a package
// touches the device, and runs the main window until it closes.
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "app/win32/gui/main_dialog.h"
#include "app/win32/instance_guard.h"
#include "package/unpack.h"
#include "package/win32/win32_package_files.h"

namespace romsetter {
namespace {

// Boxes before the window exists have no owner.
class OwnerlessMessages final : public MessagePort {
 public:
  MessageAnswer ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon,
                            MessageButtons buttons) override {
    return ShowMessageBox(nullptr, text, caption, icon, buttons);
  }
  std::optional<std::string> OpenFileDialog(const FileDialogRequest&) override { return std::nullopt; }
};

// The program file's name without its extension names the boxes that name no caption.
std::string ApplicationName() {
  char path[MAX_PATH + 1] = {};
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string name(path, n < MAX_PATH ? n : 0);
  const std::size_t slash = name.find_last_of("\\/");
  if (slash != std::string::npos) name.erase(0, slash + 1);
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.erase(dot);
  return name.empty() ? "Romsetter" : name;
}

int Run(HINSTANCE instance) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
  if (!InitCommonControlsEx(&controls)) InitCommonControls();

  ProcessState process;
  process.applicationName = ApplicationName();
  // Two copies would drive the same device at once.
  const InstanceGuard instanceGuard;
  if (!instanceGuard.held()) {
    MessageBoxA(nullptr, kAlreadyRunning, process.applicationName.c_str(), MB_OK | MB_ICONSTOP);
    return 1;
  }

  Win32PackageFiles files;
  OwnerlessMessages messages;
  ImageStore images;
  const FixedPaths paths = FixedPaths::Windows();
  const UnpackResult unpacked = UnpackSelf(UnpackPorts{files, messages, paths, process, images}, false);
  int status = 0;
  if (unpacked == UnpackResult::Damaged) {
    status = 1;  // told already; a damaged package never reaches the device
  } else if (unpacked == UnpackResult::Package &&
             messages.ShowMessage("The data of device will be deleted all.\nDo you continue?", "ALERT !!",
                                  MessageIcon::Question, MessageButtons::OkCancel) != MessageAnswer::Ok) {
    status = 0;
  } else {
    MainDialog dialog(process, files, MainDialogOptions{});
    dialog.TakePackageImages(std::move(images));
    dialog.RunModal(instance);
  }
  return status;
}

}  // namespace
}  // namespace romsetter

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) { return romsetter::Run(instance); }
