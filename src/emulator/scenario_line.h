#pragma once
// One line of an emulator scenario file (docs/emulator.md): its words, and the checked
// readers of the values after its key.  A reader that fails says why in `what`, naming the key.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace romsetter {

struct ScenarioToken {
  std::string text;
  bool quoted = false;
};

// Splits a line into bare words and "quoted texts"; '#' outside quotes ends the line.
bool SplitScenarioLine(const std::string& line, std::vector<ScenarioToken>& tokens, std::string& what);

// The values of the line in `tokens_`, whose first word is the key.
class ScenarioValues {
 protected:
  // Exactly `values` values after the key.
  bool Count(std::size_t values, std::string& what);
  // Value `index` as a number up to `max`.
  bool Arg(std::size_t index, std::uint32_t max, std::uint32_t& out, std::string& what);
  // Decimal or 0x hexadecimal, no sign.
  bool Number(const std::string& s, std::uint32_t max, std::uint32_t& out, std::string& what);
  // The one value, a quoted text of at most `maxChars`.
  bool Text(std::size_t maxChars, std::string& out, std::string& what);
  // A USB string descriptor text that a shell can pass along: printable ASCII only.
  bool Printable(const std::string& text, std::string& what);
  // The one value, yes or no.
  bool YesNo(bool& out, std::string& what);

  std::vector<ScenarioToken> tokens_;
  std::string key_;  // the key the messages name
};

}  // namespace romsetter
