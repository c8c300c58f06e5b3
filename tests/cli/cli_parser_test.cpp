// One parser reading many command lines must read each as if it were the first.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/cli/cli_options.h"
#include "support/test_support.h"

namespace romsetter::test {
namespace {

struct Parsed {
  CliParse parse;
  CliOptions options;
  std::string error;
};

Parsed ParseWith(CliParser& parser, std::vector<std::string> args) {
  args.insert(args.begin(), "romsetter-cli");
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  Parsed p;
  std::string printed;
  p.parse = parser.Parse(static_cast<int>(args.size()), argv.data(), p.options, p.error, printed);
  return p;
}

TEST(CliParser, EachCommandLineStartsFromTheDefaultsWhateverCameBefore) {
  const std::string dir = ScratchForCurrentTest("parser");
  const std::string image = dir + "/big.bin", config = dir + "/device.cfg", program = dir + "/romsetter";
  for (const std::string& file : {image, config, program}) WriteFile(file, "x");
  const std::string device = "emulator:" + config;
  CliParser parser;

  Parsed pack = ParseWith(parser, {"pack", "--program", program, "--firmware", image, "--format", "--backup",
                                   "--fw-version", "2.0", "--settings", dir, "--json"});
  ASSERT_EQ(pack.parse, CliParse::Run) << pack.error;
  EXPECT_TRUE(pack.options.fwVersionGiven);
  EXPECT_TRUE(pack.options.format);

  Parsed several = ParseWith(parser, {"upgrade", "--device", device + "#1", "--device", device + "#2", "--firmware",
                                      image});
  ASSERT_EQ(several.parse, CliParse::Run) << several.error;
  EXPECT_EQ(several.options.targets.size(), 2u);

  EXPECT_EQ(ParseWith(parser, {"upgrade", "--no-such-option"}).parse, CliParse::Refused);
  EXPECT_EQ(ParseWith(parser, {"info", "--help"}).parse, CliParse::Printed);

  Parsed plain = ParseWith(parser, {"upgrade", "--device", device, "--firmware", image});
  ASSERT_EQ(plain.parse, CliParse::Run) << plain.error;
  const CliOptions& o = plain.options;
  EXPECT_EQ(o.command, CliCommand::Upgrade);
  EXPECT_FALSE(o.format || o.backup || o.json || o.fwVersionGiven);
  EXPECT_TRUE(o.fwVersion.empty() && o.program.empty() && o.settingsDir.empty());
  EXPECT_EQ(o.devices, std::vector<std::string>{device});
  EXPECT_EQ(o.targets.size(), 1u);
  EXPECT_EQ(o.emulatorIndex, 0);
  EXPECT_EQ(o.log, "Romsetter.log");

  // Without a command the line is refused, even right after one that had one.
  EXPECT_EQ(ParseWith(parser, {"--json"}).parse, CliParse::Refused);

  // A parser that has read thousands of lines (its tables made afresh on the way) reads on.
  for (int i = 0; i < 2500; ++i) ParseWith(parser, {"upgrade", "--device", device, "--format", "--firmware", image});
  EXPECT_EQ(ParseWith(parser, {"--version"}).parse, CliParse::Printed);
  Parsed later = ParseWith(parser, {"header", "--font-list", image, "--report", dir + "/fonts.h"});
  ASSERT_EQ(later.parse, CliParse::Run) << later.error;
  EXPECT_EQ(later.options.command, CliCommand::Header);
  EXPECT_FALSE(later.options.format);
}

}  // namespace
}  // namespace romsetter::test
