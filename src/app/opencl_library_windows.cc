#include "app/opencl_library.h"

#include <windows.h>

#include <fmt/format.h>

namespace vramcheck {

// OpenCL.dll is delay-loaded: the first OpenCL call would load it, and end
// the program without a word if it could not. Loading it here first, with
// the same search, keeps it loaded for those calls.
std::optional<std::string> LoadOpenClLibrary() {
  // No message box from Windows for a library it cannot use, only the line.
  DWORD old_mode = 0;
  SetThreadErrorMode(SEM_FAILCRITICALERRORS, &old_mode);
  const HMODULE library = LoadLibraryA("OpenCL.dll");
  const DWORD error = GetLastError();
  SetThreadErrorMode(old_mode, nullptr);
  if (library != nullptr) return std::nullopt;
  return fmt::format(
      "Error: cannot load OpenCL.dll (Windows error {}){}.", error,
      error == ERROR_MOD_NOT_FOUND
          ? ": no OpenCL driver is installed; the GPU's display driver "
            "(NVIDIA, AMD or Intel) provides it"
          : "");
}

}  // namespace vramcheck
