// The debugger output as a debug viewer sees it, and the start-up message as a pipe
// or a file on standard output gets it.
#include <gtest/gtest.h>

#include "WinTestSupport.h"
#include "platform/win32/Win32DebugOutput.h"

namespace {

TEST(Win32DebugOutput, LinesReachADebugViewerWhole) {
  wintest::DebugMonitor monitor;
  ASSERT_TRUE(monitor.ready());
  win32::Win32DebugOutput debug;
  debug.write("OpenPrinter Error \n");
  debug.report("StartDocPrinter Error : 0x%08x \n", 0x7B);
  debug.report("pData->State : 0x%08x \n", 0);
  ASSERT_TRUE(monitor.stop());
  EXPECT_EQ(
      monitor.linesOf(GetCurrentProcessId()),
      (std::vector<std::string>{"OpenPrinter Error \n", "StartDocPrinter Error : 0x0000007b \n",
                                "pData->State : 0x00000000 \n"}));
}

TEST(Win32Console, StartUpMessageIsUtf8OnAPipe) {
  wintest::ChildProcess helper(L"win_helper.exe", L"print-startup-error", true);
  ASSERT_TRUE(helper.started());
  const std::string output = helper.output();
  EXPECT_EQ(helper.waitExit(10000), DWORD{0});
  // "심각한 오류: GetModuleHandle 실패\n" in UTF-8; the newline is translated to CR LF by
  // the text mode of the C runtime, as on Windows.
  EXPECT_EQ(output,
            "\xEC\x8B\xAC\xEA\xB0\x81\xED\x95\x9C \xEC\x98\xA4\xEB\xA5\x98: GetModuleHandle "
            "\xEC\x8B\xA4\xED\x8C\xA8\r\n");
}

}  // namespace
