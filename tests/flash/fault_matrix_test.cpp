// Every image kind on both transports against every device fault at the first, a middle and the last page.
#include "flash/fault_matrix.h"

namespace romsetter::test {
namespace {

using namespace fault_matrix;
using Case = std::tuple<bool, int, int, std::uint32_t>;
class FaultMatrix : public ::testing::TestWithParam<Case> {};

TEST_P(FaultMatrix, LinesResultAndNothingWrittenAfterAStop) {
  const auto [aspi, kindIndex, faultIndex, page] = GetParam();
  CheckCase(aspi, kindIndex, faultIndex, page);
}

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  const auto [aspi, kind, fault, page] = info.param;
  return std::string(aspi ? "Aspi_" : "PassThrough_") + kKinds[kind].name + "_" + kFaults[fault].name + "_Page" +
         std::to_string(page);
}
INSTANTIATE_TEST_SUITE_P(Flash, FaultMatrix,
                         ::testing::Combine(::testing::Bool(), ::testing::Range(0, kKindCount), ::testing::Range(0, kFaultCount),
                                            ::testing::Values(0u, kPages / 2, kPages - 1)),
                         CaseName);

}  // namespace
}  // namespace romsetter::test
