// relaytool preview IN.bin -o OUT.png [--page] [--font FILE] [--margin DOTS]
#pragma once

#include <cstdio>

namespace preview {

/// The preview command; argv holds its arguments only (not "relaytool preview").
/// Exit codes: 0 written, 1 the picture could not be written, 2 bad input or options.
/// Lines about what was skipped or not drawn go to `diagnostics`.
int runPreview(int argc, char** argv, std::FILE* diagnostics);

}  // namespace preview

/// What relaytool's main calls for "relaytool preview ...", with diagnostics on stderr.
int runPreview(int argc, char** argv);
