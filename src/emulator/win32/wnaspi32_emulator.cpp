// The emulated device as a drop-in ASPI for Win32 library: the program loads it by name
// like the real one, so its whole Windows 98/ME path runs against emulated devices.
//
// The scenario comes from the file named by ROMSETTER_EMULATOR_CONFIG, read on first use (a
// recording there is replayed instead of a scenario);
// tests may load another one at any time through RomsetterEmulatorLoad.  Requests complete
// before SendASPI32Command returns; the completion event is signalled as the real library
// does when it finishes in the background.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>  // std::lock_guard only
#include <string>
#include <vector>

#include "base/format.h"
#include "device/aspi_library.h"
#include "emulator/emulated_device.h"
#include "emulator/replay_device.h"

namespace {

using romsetter::DataDirection;
using romsetter::EmulatedDevice;
using romsetter::EmulatedOutcome;
using romsetter::EmulatorConfig;
using romsetter::Format;
using romsetter::SrbExecScsiCmd;

constexpr const char* kConfigVariable = "ROMSETTER_EMULATOR_CONFIG";
constexpr std::uint8_t kInvalidCommand = 0x80;  // SS_INVALID_CMD
constexpr std::uint8_t kInvalidAdapter = 0x81;  // SS_INVALID_HA
constexpr std::uint8_t kInvalidSrb = 0xE0;      // SS_INVALID_SRB
constexpr std::uint8_t kNoAdapters = 0xE8;      // SS_NO_ADAPTERS
constexpr std::uint8_t kCheckCondition = 0x02;  // SCSI status of a failed command

void ReportError(const std::string& error) {
  std::fputs(Format("wnaspi32 emulator: %s\n", error.c_str()).c_str(), stderr);
  std::fflush(stderr);
}

// A critical section: the Windows runtime has no std::mutex (see cmake/mingw-i686.cmake).
class Lock {
 public:
  Lock() { InitializeCriticalSection(&section_); }
  ~Lock() { DeleteCriticalSection(&section_); }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;
  void lock() { EnterCriticalSection(&section_); }
  void unlock() { LeaveCriticalSection(&section_); }

 private:
  CRITICAL_SECTION section_;
};

// The library's whole state.  A real ASPI layer is one per process, so this is too.
class EmulatorLibrary {
 public:
  Lock mutex;
  bool busy = false;  // a command is running (guarded by mutex)

  bool Load(const std::string& path) {
    SaveFlash();  // the scenario being replaced keeps what it was told
    loaded_ = true;
    devices_.clear();
    replay_.reset();
    trace_.clear();
    adapterCount_ = 0;
    supportStatus_ = kNoAdapters;
    EmulatorConfig config;
    std::string error;
    if (IsRecording(path)) return LoadReplay(path);
    if (!romsetter::LoadEmulatorConfig(path, config, error)) {
      ReportError(error);
      return false;
    }
    adapterCount_ = config.adapterCount;
    supportStatus_ = config.supportStatus;
    signalCompleted_ = config.signalCompleted;
    devices_.reserve(config.devices.size());
    for (const romsetter::EmulatedDeviceConfig& device : config.devices) devices_.emplace_back(device);
    for (EmulatedDevice& device : devices_) {
      if (!device.LoadFlash(error)) {
        // A device whose remembered flash is unreadable would silently start erased.
        ReportError(error);
        devices_.clear();
        adapterCount_ = 0;
        supportStatus_ = kNoAdapters;
        return false;
      }
    }
    return true;
  }

  // Keeps each device's flash for the next run, as the command line does when a job ends;
  // the library cannot tell when a job ends, so this runs when it is unloaded.
  void SaveFlash() const {
    std::string error;
    for (const EmulatedDevice& device : devices_) {
      if (!device.SaveFlash(error)) ReportError(error);
    }
  }

  void EnsureLoaded() {
    if (loaded_) return;
    const std::string path = ConfigPathFromEnvironment();
    if (path.empty()) {
      loaded_ = true;
      ReportError(Format("%s is not set; no adapters", kConfigVariable));
      return;
    }
    Load(path);
  }

  std::uint32_t SupportInfo() {
    if (replay_) return replay_->SupportInfo();
    return static_cast<std::uint32_t>(supportStatus_) << 8 | adapterCount_;
  }

  // Fills the request's status and reports whether the completion event is due.
  bool Execute(SrbExecScsiCmd& srb) {
    srb.haStat = 0;
    srb.targStat = 0;
    if (replay_) {
      if (srb.cdbLen == 0 || srb.cdbLen > sizeof srb.cdbByte || (srb.bufLen != 0 && srb.bufPointer == nullptr)) {
        srb.status = kInvalidSrb;
        return false;
      }
      return replay_->AnswerSrb(srb);
    }
    if (srb.haId >= adapterCount_) {
      srb.status = kInvalidAdapter;
      return false;
    }
    if (srb.cdbLen == 0 || srb.cdbLen > sizeof srb.cdbByte || (srb.bufLen != 0 && srb.bufPointer == nullptr)) {
      srb.status = kInvalidSrb;
      return false;
    }
    EmulatedDevice* device = Find(srb.haId, srb.target, srb.lun);
    if (device == nullptr) {
      srb.status = romsetter::SS_NO_DEVICE;
      return false;
    }
    const DataDirection direction = (srb.flags & romsetter::SRB_DIR_IN) != 0 ? DataDirection::In : DataDirection::Out;
    const std::size_t traced = device->trace().size();
    const romsetter::EmulatedResult result =
        device->Execute(srb.cdbByte, srb.cdbLen, direction, srb.bufPointer, srb.bufLen);
    Trace(*device, traced, srb);

    switch (result.outcome) {
      case EmulatedOutcome::NotDelivered:
        srb.status = romsetter::SS_NO_DEVICE;
        return false;
      case EmulatedOutcome::NoCompletion:
        srb.status = romsetter::SS_PENDING;
        return false;
      case EmulatedOutcome::Completed:
        break;
    }
    srb.haStat = result.hostStatus;
    srb.targStat = result.statusGood || result.hostStatus != 0 ? 0 : kCheckCondition;
    if (srb.targStat != 0) {
      romsetter::FillEmulatedSense(srb.senseArea, std::min<std::size_t>(srb.senseLen, sizeof srb.senseArea));
    }
    srb.status = result.statusGood ? romsetter::SS_COMP : romsetter::SS_ERR;
    // An adapter that finishes a request at once may leave its event alone.
    return signalCompleted_;
  }

  // SC_ABORT_SRB: a request still pending (one that never completes) ends as aborted and
  // its event is signalled.  Traced as "ABORT adapter".
  bool Abort(romsetter::SrbAbort& abort) {
    trace_.push_back(Format("ABORT %u\n", static_cast<unsigned>(abort.haId)));
    abort.status = romsetter::SS_COMP;
    auto* target = static_cast<SrbExecScsiCmd*>(abort.toAbort);
    if (target == nullptr || target->status != romsetter::SS_PENDING) return false;
    target->status = romsetter::SS_ABORTED;
    return (target->flags & romsetter::SRB_EVENT_NOTIFY) != 0 && target->postProc != nullptr;
  }

  std::string TraceText() const {
    std::string text;
    for (const std::string& line : trace_) text += line;
    return text;
  }

 private:
  static bool IsRecording(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    char start[64] = {};
    const std::size_t n = std::fread(start, 1, sizeof start - 1, file);
    std::fclose(file);
    return romsetter::LooksLikeRecording(std::string(start, n));
  }

  // A recording of an ASPI run answers in place of the devices; its divergence line goes to
  // standard error, and every later request fails.
  bool LoadReplay(const std::string& path) {
    romsetter::Recording recording;
    std::string error;
    if (!romsetter::LoadRecording(path, recording, error)) {
      ReportError(error);
      return false;
    }
    if (recording.header.family != romsetter::TransportFamily::Aspi) {
      ReportError(Format("%s was recorded over pass-through; this library replays ASPI recordings", path.c_str()));
      return false;
    }
    replay_ = std::make_unique<romsetter::ReplayDevice>(std::move(recording), ReportError);
    return true;
  }

  static std::string ConfigPathFromEnvironment() {
    // The live process environment: this DLL's C runtime keeps a copy of its own.
    const DWORD needed = GetEnvironmentVariableA(kConfigVariable, nullptr, 0);
    if (needed == 0) return std::string();
    std::vector<char> value(needed);
    const DWORD length = GetEnvironmentVariableA(kConfigVariable, value.data(), needed);
    if (length == 0 || length >= needed) return std::string();
    return std::string(value.data(), length);
  }

  EmulatedDevice* Find(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun) {
    if (lun != 0) return nullptr;
    for (EmulatedDevice& device : devices_) {
      if (device.config().adapterId == adapter && device.config().targetId == target) return &device;
    }
    return nullptr;
  }

  // One line per command; the device's own trace is emptied so a long run stays small.
  void Trace(EmulatedDevice& device, std::size_t traced, const SrbExecScsiCmd& srb) {
    const char* name = romsetter::EmulatedCommandName(srb.cdbByte, srb.cdbLen);
    std::string command = name != nullptr ? name : "?";
    std::uint32_t pageAddress = 0;
    std::uint32_t pageNumber = 0;
    if (device.trace().size() > traced) {
      const romsetter::TraceEntry& entry = device.trace().back();
      command = entry.command;
      pageAddress = entry.pageAddress;
      pageNumber = entry.pageNumber;
    }
    device.ClearTrace();
    trace_.push_back(Format("%s %u %u 0x%08X %u %u\n", command.c_str(), static_cast<unsigned>(srb.haId),
                            static_cast<unsigned>(srb.target), static_cast<unsigned>(pageAddress),
                            static_cast<unsigned>(pageNumber), static_cast<unsigned>(srb.bufLen)));
  }

  bool loaded_ = false;
  std::uint8_t adapterCount_ = 0;
  std::uint8_t supportStatus_ = kNoAdapters;
  bool signalCompleted_ = true;
  std::vector<EmulatedDevice> devices_;
  std::unique_ptr<romsetter::ReplayDevice> replay_;
  std::vector<std::string> trace_;
};

// The folder of a module's file, with its trailing separator ("" when unknown).
std::string FolderOf(HMODULE module) {
  char path[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::string();
  std::string folder(path, length);
  const std::size_t slash = folder.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
}

EmulatorLibrary& Library() {
  static EmulatorLibrary library;
  return library;
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    // Windows loads a DLL from the program's folder first: a copy that travelled there with
    // the program would stand in for the real ASPI layer and "upgrade" an emulated device.
    const std::string own = FolderOf(instance);
    if (!own.empty() && lstrcmpiA(own.c_str(), FolderOf(nullptr).c_str()) == 0) {
      ReportError(Format("refusing to load from the program's own folder %s; it is a test library", own.c_str()));
      return FALSE;
    }
    return TRUE;
  }
  if (reason != DLL_PROCESS_DETACH) return TRUE;
  try {
    EmulatorLibrary& library = Library();
    if (reserved == nullptr) {  // FreeLibrary: other threads may still be sending
      std::lock_guard<Lock> lock(library.mutex);
      library.SaveFlash();
    } else if (!library.busy) {
      // Process exit: the other threads are gone, one may have died mid-command holding the
      // lock, and then nothing consistent can be saved.
      library.SaveFlash();
    }
  } catch (const std::exception&) {
  }
  return TRUE;
}

DWORD __cdecl GetASPI32SupportInfo(void) {
  try {
    EmulatorLibrary& library = Library();
    std::lock_guard<Lock> lock(library.mutex);
    library.EnsureLoaded();
    return library.SupportInfo();
  } catch (const std::exception&) {
    return static_cast<DWORD>(kNoAdapters) << 8;
  }
}

DWORD __cdecl SendASPI32Command(void* request) {
  if (request == nullptr) return kInvalidSrb;
  // Every request block starts with its command code and status.
  auto* srb = static_cast<SrbExecScsiCmd*>(request);
  if (srb->cmd == romsetter::SC_ABORT_SRB) {
    auto* abort = static_cast<romsetter::SrbAbort*>(request);
    bool signal = false;
    try {
      EmulatorLibrary& library = Library();
      std::lock_guard<Lock> lock(library.mutex);
      signal = library.Abort(*abort);
    } catch (const std::exception&) {
      abort->status = romsetter::SS_ERR;
    }
    if (signal) SetEvent(static_cast<SrbExecScsiCmd*>(abort->toAbort)->postProc);
    return abort->status;
  }
  if (srb->cmd != romsetter::SC_EXEC_SCSI_CMD) {
    srb->status = kInvalidCommand;
    return srb->status;
  }
  bool signal = false;
  try {
    EmulatorLibrary& library = Library();
    std::lock_guard<Lock> lock(library.mutex);
    library.EnsureLoaded();
    library.busy = true;
    struct Done {
      bool& busy;
      ~Done() { busy = false; }
    } done{library.busy};
    signal = library.Execute(*srb);
  } catch (const std::exception&) {
    srb->status = romsetter::SS_ERR;
    signal = true;
  }
  if (signal && (srb->flags & romsetter::SRB_EVENT_NOTIFY) != 0 && srb->postProc != nullptr) SetEvent(srb->postProc);
  return srb->status;
}

int __cdecl RomsetterEmulatorLoad(const char* configPath) {
  if (configPath == nullptr) return 0;
  try {
    EmulatorLibrary& library = Library();
    std::lock_guard<Lock> lock(library.mutex);
    return library.Load(configPath) ? 1 : 0;
  } catch (const std::exception&) {
    return 0;
  }
}

int __cdecl RomsetterEmulatorTrace(char* buffer, int size) {
  try {
    EmulatorLibrary& library = Library();
    std::string text;
    {
      std::lock_guard<Lock> lock(library.mutex);
      text = library.TraceText();
    }
    if (buffer != nullptr && size > 0) {
      const std::size_t count = std::min<std::size_t>(text.size(), static_cast<std::size_t>(size) - 1);
      std::memcpy(buffer, text.data(), count);
      buffer[count] = '\0';
    }
    return static_cast<int>(text.size() + 1);
  } catch (const std::exception&) {
    return 0;
  }
}

}  // extern "C"
