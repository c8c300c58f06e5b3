#pragma once
// The device's memory map: the region queries that fill it, with their log lines and the
// comparison with the images to write, and the initialisation that runs them.
#include <cstdint>
#include <string>

#include "base/log_sink.h"
#include "device/device_link.h"
#include "device/memory_map.h"
#include "package/image_store.h"

namespace romsetter {

// What the job is about to write, which decides the initialisation's queries.
struct InitRequest {
  bool nor = false;
  bool loadBootCode = false;
  bool loadFirmware = false;
  bool loadFont = false;
};

// The map with one region reply recorded.  With `nor`, bytes 6-9 of a region reply are the
// gap (each region query overwrites it; the firmware query's own gap is kept apart); without
// it, byte 6 of the firmware reply is the flash type.
MemoryMap WithRegion(MemoryMap map, RegionQuery query, const RegionReply& reply, bool nor);

// "Ver:" and the eight version characters as the window shows them (a NUL ends the text).
std::string VersionLine(const std::array<std::uint8_t, kProductReplyLength>& reply);
// The version line followed by "  Product:" and the product name (up to its first NUL).
std::string WithProduct(const std::string& versionLine, const std::array<std::uint8_t, kProductReplyLength>& reply);

// The queries record their answers in a memory map owned by the caller, which lives as long
// as the process: the flash type learnt once is used by the next job.
class MemoryQuery {
 public:
  MemoryQuery(DeviceLink& link, LogSink& log, MemoryMap& map) : link_(link), log_(log), map_(map) {}

  // Queries one region, records and logs the answer, and compares it with the image it is
  // for.  False when the query failed (its line logged), when there is no image to compare
  // (nothing sent), or when the image is larger than the region ("... larger then device
  // memory."; the map is recorded all the same).  A boot region of size 0 logs "User can't
  // upgrade the boot code." and counts as success.
  bool GetMemInfo(RegionQuery query, const ImagePageCounts& pages, bool nor);
  // Pass-through initialisation: INQUIRY, then TEST UNIT READY (NAND) or the boot query
  // (NOR with boot code), then the firmware and font queries the request needs.
  bool InitDevice(const InitRequest& request, const ImagePageCounts& pages);
  // ASPI status test: TEST UNIT READY in NAND mode; NOR always passes.
  bool GetDeviceStatus(bool nor);

  const MemoryMap& map() const { return map_; }

 private:
  void LogMemoryMap(RegionQuery query);

  DeviceLink& link_;
  LogSink& log_;
  MemoryMap& map_;
};

}  // namespace romsetter
