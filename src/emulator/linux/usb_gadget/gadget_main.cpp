// romsetter-gadget: the emulated device as a USB disk on a Linux FunctionFS gadget, so the
// kernel's own storage stack (usb-storage, the SCSI midlayer, sd and sg) sees it as it would
// see the real device.  It writes a line per command the host sends (the trace), and saves
// the emulated flash to the scenario's flash file on SIGUSR1 and before it ends on SIGTERM.
//
//   romsetter-gadget SCENARIO DISK_IMAGE FFS_DIR   serve the first device of SCENARIO
//   romsetter-gadget --ids SCENARIO                print "VENDOR PRODUCT SERIAL" for configfs
//   romsetter-gadget --rate NODE SECONDS           SG_IO round trips per second on NODE
#include <endian.h>
#include <fcntl.h>
#include <linux/usb/ch9.h>
#include <linux/usb/functionfs.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/format.h"
#include "device/linux/sg_io_transport.h"
#include "device/vendor_commands.h"
#include "emulator/emulated_device.h"
#include "emulator/linux/usb_gadget/usb_disk.h"

using namespace romsetter;

namespace {

constexpr std::uint32_t kHighSpeedPacket = 512;
constexpr std::size_t kMaxImage = 64u << 20;
constexpr std::uint8_t kGetMaxLun = 0xFE, kBulkOnlyReset = 0xFF;

struct Descriptors {
  usb_functionfs_descs_head_v2 header;
  __le32 fsCount, hsCount;
  struct Set {
    usb_interface_descriptor intf;
    usb_endpoint_descriptor_no_audio in, out;
  } __attribute__((packed)) fs, hs;
} __attribute__((packed));

struct Strings {
  usb_functionfs_strings_head header;
  __le16 language;
  char name[sizeof "Romsetter mass storage"];
} __attribute__((packed));

Descriptors::Set InterfaceSet(std::uint16_t packet) {
  Descriptors::Set s{};
  s.intf = {USB_DT_INTERFACE_SIZE, USB_DT_INTERFACE, 0, 0, 2, USB_CLASS_MASS_STORAGE, 0x06 /* SCSI */,
            0x50 /* bulk-only */, 1};
  s.in = {USB_DT_ENDPOINT_SIZE, USB_DT_ENDPOINT, 1 | USB_DIR_IN, USB_ENDPOINT_XFER_BULK, htole16(packet), 0};
  s.out = {USB_DT_ENDPOINT_SIZE, USB_DT_ENDPOINT, 2 | USB_DIR_OUT, USB_ENDPOINT_XFER_BULK, htole16(packet), 0};
  return s;
}

bool WriteDescriptors(int ep0) {
  Descriptors d{};
  d.header = {htole32(FUNCTIONFS_DESCRIPTORS_MAGIC_V2), htole32(sizeof d),
              htole32(FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC)};
  d.fsCount = d.hsCount = htole32(3);
  d.fs = InterfaceSet(64);
  d.hs = InterfaceSet(kHighSpeedPacket);
  Strings s{};
  s.header = {htole32(FUNCTIONFS_STRINGS_MAGIC), htole32(sizeof s), htole32(1), htole32(1)};
  s.language = htole16(0x0409);
  std::memcpy(s.name, "Romsetter mass storage", sizeof s.name);
  // The endpoint files appear only once both are written.
  return write(ep0, &d, sizeof d) == static_cast<ssize_t>(sizeof d) &&
         write(ep0, &s, sizeof s) == static_cast<ssize_t>(sizeof s);
}

// A stall is I/O in the wrong direction on the endpoint's file.
void Halt(int fd, bool in) {
  std::uint8_t byte = 0;
  const ssize_t ignored = in ? read(fd, &byte, 1) : write(fd, &byte, 1);
  (void)ignored;
}

bool Move(int fd, std::uint8_t* data, std::size_t size, bool in) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = in ? write(fd, data + done, size - done) : read(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// A control request's data or status stage: an IN request is answered by a write, an OUT one
// acknowledged by a read (of 0 bytes without data); the other way round stalls it.
void Answer(int ep0, bool in, bool stall, std::uint8_t* data, std::size_t size) {
  const ssize_t done = in != stall ? write(ep0, data, size) : read(ep0, data, size);
  (void)done;  // a host that left meanwhile needs nothing more
}

// ep0 has a thread of its own: class requests arrive while the bulk loop waits on a transfer.
void ServeEp0(int ep0) {
  for (;;) {
    usb_functionfs_event events[4];
    const ssize_t n = read(ep0, events, sizeof events);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    for (std::size_t i = 0; i < static_cast<std::size_t>(n) / sizeof events[0]; ++i) {
      const usb_functionfs_event& e = events[i];
      static const char* const kNames[] = {"BIND", "UNBIND", "ENABLE", "DISABLE", "SETUP", "SUSPEND", "RESUME"};
      if (e.type != FUNCTIONFS_SETUP) {
        std::printf("event %s\n", e.type < 7 ? kNames[e.type] : "?");
        continue;
      }
      const usb_ctrlrequest& r = e.u.setup;
      const bool in = (r.bRequestType & USB_DIR_IN) != 0;
      std::uint8_t lun = 0;  // the one LUN's number: Get Max LUN's answer
      if (r.bRequestType == (USB_DIR_IN | USB_TYPE_CLASS | USB_RECIP_INTERFACE) && r.bRequest == kGetMaxLun) {
        std::printf("setup GET_MAX_LUN\n");
        Answer(ep0, in, false, &lun, 1);
      } else if (r.bRequestType == (USB_DIR_OUT | USB_TYPE_CLASS | USB_RECIP_INTERFACE) &&
                 r.bRequest == kBulkOnlyReset) {
        std::printf("setup BULK_ONLY_RESET\n");
        Answer(ep0, in, false, &lun, 0);
      } else {
        std::printf("setup 0x%02x 0x%02x stalled\n", r.bRequestType, r.bRequest);
        Answer(ep0, in, true, &lun, 0);
      }
    }
  }
}

// Round trips of one command for `seconds`; false with a line when one fails.
bool Measure(SgIoTransport& drive, const ScsiRequest& r, const char* name, double seconds) {
  const auto start = std::chrono::steady_clock::now();
  unsigned count = 0;
  double elapsed = 0;
  while (elapsed < seconds) {
    const ScsiResult result = drive.Execute(r);
    if (!result.delivered || !result.statusGood) {
      std::fprintf(stderr, "romsetter-gadget: %s round trip %u failed\n", name, count + 1);
      return false;
    }
    ++count;
    elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  std::printf("%s: %u SG_IO round trips in %.1f s, %.0f per second\n", name, count, elapsed, count / elapsed);
  return true;
}

int Rate(const char* node, const char* secondsText) {
  const double seconds = std::atof(secondsText);
  SgIoTransport drive;
  std::uint32_t error = 0;
  if (seconds <= 0 || !drive.OpenDrive(node, error)) {
    std::fprintf(stderr, "romsetter-gadget: %s does not open: %s\n", node, std::strerror(static_cast<int>(error)));
    return 1;
  }
  ScsiRequest ready;
  ready.cdbLength = 6;  // TEST UNIT READY: no data phase
  std::uint8_t reply[kVersionReplyLength];
  ScsiRequest version;
  version.cdb[0] = kVendorOpcode;
  version.cdb[1] = DEV_GET_VERSION;
  version.direction = DataDirection::In;
  version.length = sizeof reply;
  version.dataIn = reply;
  return Measure(drive, ready, "TEST UNIT READY", seconds) && Measure(drive, version, "DEV_GET_VERSION", seconds) ? 0
                                                                                                               : 1;
}

bool ReadImage(const char* path, std::vector<std::uint8_t>& image) {
  FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return false;
  const long size = std::fseek(f, 0, SEEK_END) == 0 ? std::ftell(f) : -1;
  const bool fits = size >= static_cast<long>(UsbDisk::kBlockSize) && size <= static_cast<long>(kMaxImage);
  if (fits) {
    image.resize(static_cast<std::size_t>(size));
    std::rewind(f);
  }
  const bool read = fits && std::fread(image.data(), 1, image.size(), f) == image.size();
  std::fclose(f);
  return read;
}

}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IOLBF, 0);
  EmulatorConfig config;
  std::string error;
  if (argc == 4 && std::strcmp(argv[1], "--rate") == 0) return Rate(argv[2], argv[3]);
  if (argc == 3 && std::strcmp(argv[1], "--ids") == 0) {
    if (!LoadEmulatorConfig(argv[2], config, error)) {
      std::fprintf(stderr, "romsetter-gadget: %s\n", error.c_str());
      return 1;
    }
    const EmulatedDeviceConfig& d = config.devices.front();
    std::printf("0x%04x 0x%04x %s\n", d.usbVendor, d.usbProduct, d.usbSerial.c_str());
    return 0;
  }
  if (argc != 4) {
    std::fprintf(stderr, "usage: romsetter-gadget SCENARIO DISK_IMAGE FFS_DIR | --ids SCENARIO | --rate NODE SECONDS\n");
    return 1;
  }
  if (!LoadEmulatorConfig(argv[1], config, error)) {
    std::fprintf(stderr, "romsetter-gadget: %s\n", error.c_str());
    return 1;
  }
  EmulatedDevice device(config.devices.front());
  std::vector<std::uint8_t> image;
  if (!device.LoadFlash(error)) {
    std::fprintf(stderr, "romsetter-gadget: %s\n", error.c_str());
    return 1;
  }
  if (!ReadImage(argv[2], image)) {
    std::fprintf(stderr, "romsetter-gadget: %s: not a disk image of 512 bytes to 64 MiB\n", argv[2]);
    return 1;
  }
  UsbDisk disk(device, std::move(image));

  const std::string dir = argv[3];
  const int ep0 = open((dir + "/ep0").c_str(), O_RDWR);
  if (ep0 < 0 || !WriteDescriptors(ep0)) {
    std::fprintf(stderr, "romsetter-gadget: %s/ep0: %s\n", dir.c_str(), std::strerror(errno));
    return 1;
  }
  const int epIn = open((dir + "/ep1").c_str(), O_RDWR);
  const int epOut = open((dir + "/ep2").c_str(), O_RDWR);
  if (epIn < 0 || epOut < 0) {
    std::fprintf(stderr, "romsetter-gadget: %s/ep1, ep2: %s\n", dir.c_str(), std::strerror(errno));
    return 1;
  }

  // The signals go to one thread that saves the flash between two commands.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGUSR1);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::mutex deviceLock;
  std::thread([&] {
    for (;;) {
      int signal = 0;
      if (sigwait(&signals, &signal) != 0) continue;
      std::lock_guard<std::mutex> hold(deviceLock);
      std::string saveError;
      if (device.SaveFlash(saveError)) {
        std::printf("flash saved\n");
      } else {
        std::printf("flash not saved: %s\n", saveError.c_str());
      }
      if (signal != SIGUSR1) {
        std::fflush(stdout);
        _exit(saveError.empty() ? 0 : 1);
      }
    }
  }).detach();
  std::thread(ServeEp0, ep0).detach();
  std::printf("ready: %u blocks, device \"%s\"\n", disk.blocks(), config.devices.front().inquiry.c_str());

  std::vector<std::uint8_t> data;
  for (;;) {
    std::uint8_t raw[kHighSpeedPacket];
    const ssize_t n = read(epOut, raw, sizeof raw);
    if (n < 0) {
      if (errno != EINTR) usleep(10000);  // not enabled, or reset under the transfer
      continue;
    }
    Cbw cbw;
    if (!ParseCbw(raw, static_cast<std::size_t>(n), cbw)) {
      // An invalid wrapper stalls both pipes until the host's reset recovery.
      std::printf("invalid CBW of %zd bytes\n", n);
      Halt(epIn, true);
      Halt(epOut, false);
      continue;
    }
    data.assign(cbw.length, 0);
    if (!cbw.in && cbw.length > 0 && !Move(epOut, data.data(), cbw.length, false)) continue;
    UsbDisk::Reply reply;
    {
      std::lock_guard<std::mutex> hold(deviceLock);
      reply = disk.Run(cbw, data.data());
    }
    if (cbw.in && cbw.length > 0) {
      if (reply.transferred > 0 && !Move(epIn, data.data(), reply.transferred, true)) continue;
      // A short reply that ends on a packet boundary leaves the host waiting for more: stall.
      if (reply.transferred < cbw.length && reply.transferred % kHighSpeedPacket == 0) Halt(epIn, true);
    }
    auto csw = MakeCsw(cbw.tag, cbw.length - reply.transferred, reply.status);
    std::string cdb;
    for (std::uint8_t i = 0; i < cbw.cdbLength; ++i) cdb += Format("%02x", cbw.cdb[i]);
    std::printf("cbw %s %s %s %u -> status %u residue %u\n", UsbDisk::CommandName(cbw).c_str(), cdb.c_str(),
                cbw.length == 0 ? "none" : cbw.in ? "in" : "out", cbw.length, reply.status,
                cbw.length - reply.transferred);
    Move(epIn, csw.data(), csw.size(), true);
  }
}
