// preview_tool: the preview command on its own, until relaytool dispatches to it.
#include "PreviewCommand.h"

int main(int argc, char** argv) {
  return runPreview(argc - 1, argv + 1);
}
