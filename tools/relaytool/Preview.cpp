// relaytool preview: hands its arguments to the preview tool's command.
#if SPR_HAVE_PREVIEW
#include <string>
#include <vector>

#include "Commands.h"
#include "PreviewCommand.h"

namespace relaytool {

int runPreviewCommand(Args args) {
  std::vector<std::string> owned(args.begin(), args.end());
  std::vector<char*> argv;
  argv.reserve(owned.size() + 1);
  for (std::string& a : owned) argv.push_back(a.data());
  argv.push_back(nullptr);
  return ::runPreview(static_cast<int>(owned.size()), argv.data());
}

}  // namespace relaytool
#endif
