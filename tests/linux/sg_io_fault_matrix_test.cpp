// The fault matrix once more with the pass-through rows carried by SgIoTransport: the same
// lines and results once every fault has gone through the sg_io_hdr and its sense data.
#include "device/linux/sg_io_transport.h"
#include "emulator/linux/emulated_sg_io.h"
#include "flash/fault_matrix.h"

namespace romsetter::test {
namespace {

using namespace fault_matrix;

struct OpenSgIo {
  explicit OpenSgIo(EmulatedDevice& device) : sgIo(device, "/dev/sg1"), transport(sgIo.Calls()) {
    std::uint32_t error = 0;
    EXPECT_TRUE(transport.OpenDrive("/dev/sg1", error));
  }
  EmulatedSgIo sgIo;
  SgIoTransport transport;
};

std::shared_ptr<DriveTransport> SgIoDrive(EmulatedDevice& device) {
  auto holder = std::make_shared<OpenSgIo>(device);
  return std::shared_ptr<DriveTransport>(holder, &holder->transport);
}

using Case = std::tuple<int, int, std::uint32_t>;
class SgIoFaultMatrix : public ::testing::TestWithParam<Case> {};

TEST_P(SgIoFaultMatrix, LinesResultAndNothingWrittenAfterAStop) {
  const auto [kindIndex, faultIndex, page] = GetParam();
  CheckCase(false, kindIndex, faultIndex, page, SgIoDrive);
}

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  const auto [kind, fault, page] = info.param;
  return std::string(kKinds[kind].name) + "_" + kFaults[fault].name + "_Page" + std::to_string(page);
}
INSTANTIATE_TEST_SUITE_P(SgIo, SgIoFaultMatrix,
                         ::testing::Combine(::testing::Range(0, kKindCount), ::testing::Range(0, kFaultCount),
                                            ::testing::Values(0u, kPages / 2, kPages - 1)),
                         CaseName);

}  // namespace
}  // namespace romsetter::test
