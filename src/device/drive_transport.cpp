#include <algorithm>
#include <array>
#include <cstring>

#include "device/scsi_transport.h"

namespace romsetter {

ScsiResult DriveTransport::Execute(const ScsiRequest& request) {
  if (request.direction == DataDirection::In && request.dataIn != nullptr) {
    return ExecuteDirect(request, request.dataIn);
  }
  std::array<std::uint8_t, kBufferSize> own{};
  if (request.dataOut != nullptr) {
    std::memcpy(own.data(), request.dataOut, std::min<std::size_t>(request.length, own.size()));
  }
  ScsiRequest bounded = request;
  bounded.length = std::min<std::uint32_t>(request.length, kBufferSize);
  return ExecuteDirect(bounded, own.data());
}

}  // namespace romsetter
