// The part of a job's run that turns loaded pages into printer bytes, shared by the
// relay's job runner and relaytool.
#pragma once

#include <cstdint>
#include <optional>

#include "job/SettingsLoading.h"
#include "page/PageBuffer.h"
#include "page/PageProcessor.h"
#include "platform/DebugOutput.h"
#include "platform/PageFiles.h"
#include "platform/Spooler.h"

namespace job {

/// Loads a job's settings as a run does once its printer is open: the stored values,
/// then the high-speed mode in effect for the model, then the firmware version.
/// `settings` should hold the initial values.
void loadJobSettings(platform::Printer& printer, char16_t modelFirstUnit,
                     PrinterSettings& settings);

/// Reads `size` bytes of an open page file into a zeroed block of its size + 256 bytes,
/// as a run loads each page. None, with the run's report line, when the block can't be
/// had or nothing could be read.
std::optional<page::PageBuffer> loadPage(platform::PageFile& file, std::uint32_t size,
                                         platform::DebugOutput& debug);

/// Sends one loaded page inside a started spooler page: reports a State other than 2,
/// starts the output buffer afresh, processes the page and, after the document's last
/// page, writes the one 0x00 byte that closes the document. Returns whether the page
/// was the last (State 2).
[[nodiscard]] bool sendLoadedPage(page::PageBuffer& page, page::PageJob& job);

}  // namespace job
