#pragma once
// The object that owns the device for the life of the process: the transport, the page
// buffer, the memory map, the identification, and one operation per vendor command.
#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "app/activity_log.h"
#include "app/selections.h"
#include "app/window_port.h"
#include "base/bytes.h"
#include "device/aspi_transport.h"
#include "device/memory_map.h"
#include "device/scsi_transport.h"
#include "device/vendor_commands.h"

namespace romsetter {

struct DeviceIdentity {
  std::string hardwareId;       // "USBSTOR\%s"
  std::string instanceKeyPath;  // "SYSTEM\CurrentControlSet\Enum\USBSTOR\%s"
  std::string inquiryText;      // INQUIRY bytes 8-35
};

using PageBuffer = std::array<std::uint8_t, kPageSize>;
using InquiryReply = std::array<std::uint8_t, kInquiryLength>;

class DeviceLink {
 public:
  DeviceLink(DriveTransport& transport, ActivityLog& log, WindowPort& window, const Selections& selections);
  DeviceLink(AspiTransport& transport, ActivityLog& log, WindowPort& window, const Selections& selections);
  DeviceLink(const DeviceLink&) = delete;
  DeviceLink& operator=(const DeviceLink&) = delete;

  bool IsAspi() const { return aspi_ != nullptr; }
  AspiTransport* aspi() { return aspi_; }
  DriveTransport* drive() { return drive_; }
  ActivityLog& log() { return log_; }
  WindowPort& window() { return window_; }
  const Selections& selections() const { return selections_; }

  // ---- Vendor command set (device_link.cpp) ----
  bool TestUnitReady();
  // The raw outcome (the ASPI target scan needs to tell a wait that ran out from a reply);
  // over ASPI it addresses `adapter` and `target`.
  ScsiResult Inquiry(InquiryReply& reply, std::uint8_t adapter = 0, std::uint8_t target = 0);
  // A region, backup, version or product query; `reply` receives `length` bytes (a fresh
  // zero-filled buffer over pass-through, the shared transfer buffer's content over ASPI).
  ScsiResult Query(VendorCode code, std::uint8_t* reply, std::uint32_t length);
  ScsiResult SendErase(VendorCode code);
  ScsiResult SendFormat();
  // Sends the PageBuffer.
  bool WritePage(std::uint32_t pageAddress, std::uint16_t pageNumber, bool font);
  bool ReadPage(std::uint8_t* destination, std::uint32_t pageAddress, std::uint16_t pageNumber, bool font);
  bool MarkErrorPage(std::uint32_t pageAddress);
  // UPT_FW_RESTART_SYS (5) or FONT_END_OF_UPDATE (13).
  bool SendControl(std::uint8_t code);

  // ---- Memory map and product query (memory_query.cpp) ----
  bool InitDevice();
  bool GetDeviceStatus();
  bool GetMemInfo(int code);
  void LogMemoryMap(int code);
  bool QueryProduct(int code);

  // ---- Erase and format (flash/erase_format.cpp) ----
  bool EraseRegion(int code);
  bool FormatDevice();

  PageBuffer pageBuffer{};
  MemoryMap memoryMap;
  ImagePageCounts imagePages;
  DeviceIdentity identity;
  std::string inDiskName;
  bool devicePresent = false;
  std::uint8_t adapterId = 0;  // ASPI address of the device
  std::uint8_t targetId = 0;
  std::string versionLabel = "Ver:1.1.1.1 Product:???";  // pushed to the window by QueryProduct
  // The ASPI target scan (DeviceDiscovery installs it), which the ASPI product query runs.
  std::function<bool()> scanAspiTargets;

 private:
  ScsiResult Run(ScsiRequest request);
  ScsiRequest VendorRequest(std::uint8_t code, DataDirection direction, std::uint32_t length) const;
  ScsiRequest PageRequest(std::uint8_t code, DataDirection direction, std::uint32_t address,
                          std::uint16_t number) const;

  DriveTransport* drive_ = nullptr;
  AspiTransport* aspi_ = nullptr;
  ScsiTransport& transport_;
  ActivityLog& log_;
  WindowPort& window_;
  const Selections& selections_;
};

}  // namespace romsetter
