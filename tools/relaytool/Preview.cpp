// relaytool preview: hands its arguments to the preview tool's command, or says that
// this build has none.
#include <string>
#include <vector>

#include "Commands.h"
#if SPR_HAVE_PREVIEW
#include "PreviewCommand.h"
#endif

namespace relaytool {

int runPreviewCommand(Args args) {
#if SPR_HAVE_PREVIEW
  std::vector<std::string> owned(args.begin(), args.end());
  std::vector<char*> argv;
  argv.reserve(owned.size() + 1);
  for (std::string& a : owned) argv.push_back(a.data());
  argv.push_back(nullptr);
  return ::runPreview(static_cast<int>(owned.size()), argv.data());
#else
  ParsedArgs parsed;
  std::string error;
  if (parseArgs(args, {}, parsed, error) && parsed.help) {
    return printHelp("usage: relaytool " + std::string(kPreviewUsage) +
                     "\n\nThis build of relaytool has no preview.\n");
  }
  return complain("preview",
                  "this build of relaytool has no preview (it is built only where libpng, "
                  "FreeType, zxing-cpp and libtiff are found)",
                  kExitFailed);
#endif
}

}  // namespace relaytool
