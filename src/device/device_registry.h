#pragma once
// What NT discovery asks of the system: the hardware ids of the present USB storage devices
// and a few reads under the local-machine registry root.  Win32: SetupAPI and the registry
// (device/win32/nt_device_registry.h).  Tests and the demo: InMemoryDeviceRegistry below.
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/text.h"

namespace romsetter {

enum class RegistryValueType {
  Missing,      // no such value (or property), or it could not be read
  TooLong,      // larger than the reader's buffer: not read at all
  String,       // REG_SZ
  MultiString,  // REG_MULTI_SZ
  Binary,       // REG_BINARY
  Other,        // any other type
};

struct RegistryValue {
  RegistryValueType type = RegistryValueType::Missing;
  std::vector<std::uint8_t> data;  // the raw bytes, never more than the reader's limit
};

// The text of a string value, or the first string of a list, up to its first NUL (or the
// end of the data when there is none).  False for every other type.
inline bool RegistryText(const RegistryValue& value, std::string& text) {
  if (value.type != RegistryValueType::String && value.type != RegistryValueType::MultiString) return false;
  std::size_t n = 0;
  while (n < value.data.size() && value.data[n] != 0) ++n;
  text.assign(reinterpret_cast<const char*>(value.data.data()), n);
  return true;
}

// What IOCTL_STORAGE_GET_DEVICE_NUMBER tells of a disk or a volume: a volume lies on the
// disk whose type and number it shares.
struct StorageNumber {
  std::uint32_t deviceType = 0;
  std::uint32_t deviceNumber = 0;
  bool operator==(const StorageNumber& other) const {
    return deviceType == other.deviceType && deviceNumber == other.deviceNumber;
  }
};

// An open key; closed when destroyed.
class RegistryKey {
 public:
  virtual ~RegistryKey() = default;
  // Name of subkey `index` in the registry's enumeration order; false past the last one
  // (or when the registry refuses to say).
  virtual bool SubkeyName(std::uint32_t index, std::string& name) = 0;
  // A value of at most `maxBytes` bytes; a larger one comes back as TooLong without data.
  virtual RegistryValue ReadValue(const std::string& name, std::size_t maxBytes) = 0;
};

class DeviceRegistry {
 public:
  virtual ~DeviceRegistry() = default;
  // The hardware-id property of every present device of any class under the "USBSTOR"
  // enumerator, in the set-up service's order (each at most `maxBytes` bytes).  Empty when
  // the service gives no list.
  virtual std::vector<RegistryValue> UsbStorageHardwareIds(std::size_t maxBytes) = 0;
  // Opens `path` under the local-machine root for reading; null when it does not open.
  virtual std::unique_ptr<RegistryKey> OpenLocalMachine(const std::string& path) = 0;
  // The storage device number of the disk or volume at `devicePath` ("\\?\USBSTOR#...",
  // "\\.\E:"), asked without read or write access (so without administrator rights); none
  // when it does not open or does not say.
  virtual std::optional<StorageNumber> StorageDeviceNumber(const std::string& devicePath) = 0;
};

// A registry held in memory.  Key paths are compared without regard to case, as the
// registry does; subkeys enumerate in the order they were added.
class InMemoryDeviceRegistry final : public DeviceRegistry {
 public:
  void AddDevice(RegistryValue hardwareId) { devices_.push_back(std::move(hardwareId)); }
  void SetValue(const std::string& keyPath, const std::string& name, RegistryValue value) {
    Key& key = Touch(keyPath);
    for (auto& v : key.values) {
      if (v.first == name) {
        v.second = std::move(value);
        return;
      }
    }
    key.values.emplace_back(name, std::move(value));
  }
  // Creates the key and its parents.
  void AddKey(const std::string& keyPath) { Touch(keyPath); }
  void SetStorageNumber(const std::string& devicePath, StorageNumber number) { numbers_[Fold(devicePath)] = number; }

  static RegistryValue String(const std::string& text) { return Bytes(RegistryValueType::String, text + '\0'); }
  static RegistryValue MultiString(const std::vector<std::string>& texts) {
    std::string all;
    for (const std::string& t : texts) all += t + '\0';
    return Bytes(RegistryValueType::MultiString, all + '\0');
  }
  // A volume name as SYSTEM\MountedDevices keeps it: UTF-16 without a terminator.
  static RegistryValue Utf16(const std::string& text) {
    RegistryValue v;
    v.type = RegistryValueType::Binary;
    for (char c : text) {
      v.data.push_back(static_cast<std::uint8_t>(c));
      v.data.push_back(0);
    }
    return v;
  }
  static RegistryValue Bytes(RegistryValueType type, const std::string& raw) {
    RegistryValue v;
    v.type = type;
    v.data.assign(raw.begin(), raw.end());
    return v;
  }

  std::vector<RegistryValue> UsbStorageHardwareIds(std::size_t maxBytes) override {
    std::vector<RegistryValue> out;
    for (const RegistryValue& d : devices_) out.push_back(Bounded(d, maxBytes));
    return out;
  }

  std::unique_ptr<RegistryKey> OpenLocalMachine(const std::string& path) override {
    auto it = keys_.find(Fold(path));
    if (it == keys_.end()) return nullptr;
    return std::make_unique<OpenKey>(*this, it->first);
  }

  std::optional<StorageNumber> StorageDeviceNumber(const std::string& devicePath) override {
    auto it = numbers_.find(Fold(devicePath));
    if (it == numbers_.end()) return std::nullopt;
    return it->second;
  }

  int openKeys() const { return openKeys_; }

 private:
  struct Key {
    std::vector<std::pair<std::string, RegistryValue>> values;
    std::vector<std::string> subkeys;  // display names, in order of creation
  };

  class OpenKey final : public RegistryKey {
   public:
    OpenKey(InMemoryDeviceRegistry& owner, std::string path) : owner_(owner), path_(std::move(path)) {
      ++owner_.openKeys_;
    }
    ~OpenKey() override { --owner_.openKeys_; }
    bool SubkeyName(std::uint32_t index, std::string& name) override {
      const Key& key = owner_.keys_[path_];
      if (index >= key.subkeys.size()) return false;
      name = key.subkeys[index];
      return true;
    }
    RegistryValue ReadValue(const std::string& name, std::size_t maxBytes) override {
      for (const auto& v : owner_.keys_[path_].values) {
        if (Fold(v.first) == Fold(name)) return Bounded(v.second, maxBytes);
      }
      return RegistryValue{};
    }

   private:
    InMemoryDeviceRegistry& owner_;
    std::string path_;
  };

  static std::string Fold(const std::string& s) { return AsciiUpper(s); }
  static RegistryValue Bounded(const RegistryValue& v, std::size_t maxBytes) {
    if (v.type != RegistryValueType::Missing && v.data.size() > maxBytes) return RegistryValue{RegistryValueType::TooLong, {}};
    return v;
  }
  Key& Touch(const std::string& path) {
    const std::string folded = Fold(path);
    auto it = keys_.find(folded);
    if (it != keys_.end()) return it->second;
    const std::size_t slash = path.rfind('\\');
    if (slash != std::string::npos) {
      Key& parent = Touch(path.substr(0, slash));
      parent.subkeys.push_back(path.substr(slash + 1));
    }
    return keys_[folded];
  }

  std::vector<RegistryValue> devices_;
  std::map<std::string, Key> keys_;
  std::map<std::string, StorageNumber> numbers_;
  int openKeys_ = 0;
};

}  // namespace romsetter
