// Writes a canvas as a greyscale PNG with libpng: one bit per pixel when the canvas is
// pure black and white, eight otherwise.
#pragma once

#include <string>

#include "Canvas.h"

namespace preview {

/// False, with `error` saying why, when the file cannot be written.
bool writePng(const std::string& path, const Canvas& canvas, std::string& error);

}  // namespace preview
