#pragma once
// The font list (".tab"): a text file naming font files, one per line.  Load mode turns it
// into the font data written to the device (kept in the ImageStore and in the "_In.dat" data
// file); report mode writes the C header giving each font's start page and page count.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/log_sink.h"
#include "base/platform.h"
#include "base/process_state.h"
#include "base/selections.h"
#include "base/user_ports.h"
#include "package/image_store.h"

namespace romsetter {

// Far beyond any path the system accepts; a longer line is not a file name.
constexpr std::size_t kMaxFontListLine = 4096;
constexpr std::size_t kMaxFontListEntries = 0xFFFF;

// The header path upper-cased with every ".H" replaced: D:\lists\big5.h gives
// D:\LISTS\BIG5_In.dat and D:\LISTS\BIG5_h.bak.  Without a ".H" the result is the upper-cased
// header path itself, which the loader refuses to write.
std::string FontDataFileName(const std::string& reportPath, bool ignoreCase = kFileNamesIgnoreCase);
std::string HeaderBackupFileName(const std::string& reportPath, bool ignoreCase = kFileNamesIgnoreCase);

// The name a font's constants carry: the entry's last path component (after '\' or '/')
// without its extension, upper-cased.  D:\fonts\Big5_16.fnt gives BIG5_16.
std::string FontNameOf(const std::string& entry);

class FontList {
 public:
  // `imagePages` goes with `images`: its fontImagePages with the FontData slot.
  FontList(LogSink& log, MessagePort& messages, const ProcessState& process, ImageStore& images,
           ImagePageCounts& imagePages);

  // Both modes read the list `selections` names and write beside its report file.
  // Load mode.  True: the FontData slot holds fontImagePages × 512 bytes of font data and
  // the data file holds the same bytes.  False: the user has been told (logged and shown),
  // the slot is released and fontImagePages is 0.  The header and its backup are never
  // touched, and font files are only ever read.
  bool FontListLoader(const Selections& selections);

  // Report mode: writes the header (CR LF line ends).  The header is replaced only once
  // every font was measured, so a failure leaves the previous header as it was.  Does not
  // change fontImagePages or the font data.
  bool HeaderReport(const Selections& selections);

  // Runs between the loader's measuring pass and its reading pass (tests change files there).
  void SetBetweenPassesHook(std::function<void()> hook) { betweenPasses_ = std::move(hook); }

 private:
  struct Font {
    std::string path;    // the list line, as written
    std::uint32_t pages; // measured in the first pass
  };

  bool ReadEntries(const char* listPath, std::vector<std::string>& entries);
  bool MeasureFonts(const char* listPath, const std::vector<std::string>& entries, std::vector<Font>& fonts,
                    std::uint32_t& total);
  bool ReadFonts(const char* listPath, const std::vector<Font>& fonts, std::vector<std::uint8_t>& data);
  bool Refuse(const std::string& text, const std::string& caption);
  bool LoadFailed(const std::string& text, const std::string& caption);

  LogSink& log_;
  MessagePort& messages_;
  const ProcessState& process_;
  ImageStore& images_;
  ImagePageCounts& imagePages_;
  std::function<void()> betweenPasses_;
};

}  // namespace romsetter
