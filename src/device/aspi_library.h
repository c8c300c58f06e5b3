#pragma once
// The ASPI for Win32 library as the transport sees it: its two entry points and the
// completion event.  Win32 loads wnaspi32.dll; tests and the demo use the emulated device.
#include <cstdint>

namespace romsetter {

constexpr std::uint8_t SC_EXEC_SCSI_CMD = 0x02;
constexpr std::uint8_t SC_ABORT_SRB = 0x03;
constexpr std::uint8_t SS_PENDING = 0x00;
constexpr std::uint8_t SS_COMP = 0x01;
constexpr std::uint8_t SS_ABORTED = 0x02;
constexpr std::uint8_t SS_ERR = 0x04;
constexpr std::uint8_t SS_NO_DEVICE = 0x82;
constexpr std::uint8_t SRB_DIR_IN = 0x08;
constexpr std::uint8_t SRB_DIR_OUT = 0x10;
constexpr std::uint8_t SRB_EVENT_NOTIFY = 0x40;
constexpr std::uint8_t kAspiSenseLength = 14;

// The published execute-SCSI request (SRB_ExecSCSICmd), byte-packed: 80 bytes on Win32.
#pragma pack(push, 1)
struct SrbExecScsiCmd {
  std::uint8_t cmd;
  std::uint8_t status;
  std::uint8_t haId;
  std::uint8_t flags;
  std::uint32_t hdrRsvd;
  std::uint8_t target;
  std::uint8_t lun;
  std::uint16_t rsvd1;
  std::uint32_t bufLen;
  std::uint8_t* bufPointer;
  std::uint8_t senseLen;
  std::uint8_t cdbLen;
  std::uint8_t haStat;
  std::uint8_t targStat;
  void* postProc;
  std::uint8_t rsvd2[20];
  std::uint8_t cdbByte[16];
  std::uint8_t senseArea[kAspiSenseLength + 2];
};
// The published abort request (SRB_Abort): asks the layer to give up a pending request.
struct SrbAbort {
  std::uint8_t cmd;
  std::uint8_t status;
  std::uint8_t haId;
  std::uint8_t flags;
  std::uint32_t hdrRsvd;
  void* toAbort;
};
#pragma pack(pop)

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(SrbExecScsiCmd) == 80, "SRB_ExecSCSICmd layout");
static_assert(sizeof(SrbAbort) == 12, "SRB_Abort layout");
#endif

class AspiLibrary {
 public:
  virtual ~AspiLibrary() = default;
  virtual std::uint32_t GetSupportInfo() = 0;
  virtual std::uint32_t SendCommand(SrbExecScsiCmd* srb) = 0;
  // Sends SC_ABORT_SRB for `srb`, a request of this library that is still pending, on its
  // host adapter.  The request may still complete (as aborted) and signal its event later.
  virtual void AbortRequest(SrbExecScsiCmd* srb) = 0;
  // Auto-reset, initially non-signalled, unnamed.  Null when it cannot be created.
  virtual void* CreateCompletionEvent() = 0;
  // True when the event was signalled within `ms`.
  virtual bool WaitCompletion(void* event, std::uint32_t ms) = 0;
  virtual void ResetCompletion(void* event) = 0;
  virtual void CloseCompletionEvent(void* event) = 0;
};

}  // namespace romsetter
