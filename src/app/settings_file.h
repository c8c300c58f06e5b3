#pragma once
// The user's selections in section "Romsetter" of the settings file: read once at start-up,
// each written back the moment the user changes it.  Also the handlers that tie the
// settings to the main window's flash type radio buttons and file histories.
#include <functional>
#include <string>

#include "app/main_window_model.h"
#include "base/process_state.h"
#include "base/profile_store.h"
#include "app/window_port.h"
#include "package/image_checks.h"

namespace romsetter {

enum class Picker { Boot, Big, Small };

// It is also how the image checks reach the window: a refused image disables Upgrade, and a
// boot file that passed is written back with its history.
class SettingsFile final : public ImageCheckHost {
 public:
  static constexpr const char* kSection = "Romsetter";
  static constexpr int kDefaultCount = 29;
  static constexpr int kBootHistoryKeys = 5;
  static constexpr int kFirmwareHistoryKeys = 10;

  // `updateControls` recomputes the window's enabled buttons; the radio handlers and the
  // history choice call it.  It may be empty.
  SettingsFile(ProfileStore& store, MainWindowModel& model, ProcessState& process, WindowPort& window,
               std::function<void()> updateControls);

  // Start-up, outside package mode: the model's fields, lists and version line from the file.
  void LoadSettings();
  // One key of the section; false when the store refused it.
  bool WriteSetting(const std::string& key, const std::string& value);
  // <prefix>0 ... <prefix>(n-1) from the list's items, stopping at the first failed write.
  bool WriteHistory(const std::string& prefix, const HistoryList& list);
  // All keys with their defaults, in their fixed order.
  void WriteDefaults();

  // Flash type radio buttons.
  void SelectNand();
  void SelectNor();

  // A file chosen with a picker: becomes the current name, and joins the history unless an
  // item already begins with it.
  void FilePicked(Picker picker, const std::string& path);
  // An item chosen from a history list; -1 (nothing selected, as when the list loses the
  // focus) takes the remembered index.  False when the index names no item.
  bool HistoryItemChosen(Picker picker, int index);

  void ImageRefused(std::optional<ImagePicker> picker) override;
  void BootFileAccepted(const std::string& path) override;

  static const char* NameKey(Picker picker);
  static const char* HistoryPrefix(Picker picker);
  HistoryList& History(Picker picker);
  std::string& PathOf(Picker picker);

 private:
  std::string ReadValue(const std::string& key, const std::string& defaultValue);
  bool ReadBool(const std::string& key);
  void LoadHistory(Picker picker);
  void UpdateControls();

  ProfileStore& store_;
  MainWindowModel& model_;
  ProcessState& process_;
  WindowPort& window_;
  std::function<void()> updateControls_;
};

}  // namespace romsetter
