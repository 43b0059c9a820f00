#ifndef VRAMCHECK_APP_OPENCL_LIBRARY_H_
#define VRAMCHECK_APP_OPENCL_LIBRARY_H_

#include <optional>
#include <string>

namespace vramcheck {

// Loads the OpenCL library where the program loads it itself: on Windows,
// OpenCL.dll, which the GPU's display driver installs and without which the
// program would not start if it were linked to it. Returns the line that
// explains why it cannot be loaded, or nothing when it can. Elsewhere the
// program is linked to the OpenCL loader, which the system loads before the
// program starts.
#ifdef _WIN32
std::optional<std::string> LoadOpenClLibrary();
#else
inline std::optional<std::string> LoadOpenClLibrary() { return std::nullopt; }
#endif

}  // namespace vramcheck

#endif  // VRAMCHECK_APP_OPENCL_LIBRARY_H_
