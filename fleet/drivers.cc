#include "drivers.h"

#include <link.h>
#include <sys/utsname.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <utility>

#include "settings.h"

namespace vramcheck::fleet {
namespace {

namespace fs = std::filesystem;

// Each vendor's library, with the driver of Mesa's rusticl for its cards,
// which rusticl presents only where the vendor's library is not there too.
const std::pair<const char*, const char*> kVendorLibraries[] = {
    {"libnvidia-opencl.so.1", "nouveau"},
    {"libamdocl64.so", "radeonsi"},
    {"libigdrcl.so", "iris"},
};
constexpr const char* kRusticl = "libRusticlOpenCL.so.1";

bool HoldsIcd(const std::string& folder) {
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error)) {
    if (entry.path().extension() == ".icd") return true;
  }
  return false;
}

std::string FindLibrary(const std::string& name, const std::string& dirs) {
  for (const std::string_view dir : Split(dirs, ":")) {
    std::error_code error;
    if (!dir.empty() && fs::is_regular_file(fs::path(dir) / name, error)) {
      return (fs::path(dir) / name).string();
    }
  }
  return "";
}

// The registration's name: the library's up to ".so".
std::string IcdName(const std::string& library) {
  return library.substr(0, library.find(".so")) + ".icd";
}

}  // namespace

DriverRegistration::~DriverRegistration() {
  std::error_code error;
  if (!folder_.empty()) fs::remove_all(folder_, error);
}

bool DriverRegistration::Register(std::vector<std::string>& notes,
                                  std::string& error) {
  const std::string vendors_dir =
      Env("GPU_CHECK_VENDORS", "/etc/OpenCL/vendors");
  const std::string library_dirs =
      Env("GPU_CHECK_LIBRARY_DIRS", DefaultLibraryDirs());
  if (std::getenv("OCL_ICD_VENDORS") != nullptr) {
    notes.push_back(std::string("drivers: ") + std::getenv("OCL_ICD_VENDORS"));
    return true;
  }
  if (HoldsIcd(vendors_dir)) {
    notes.push_back("drivers: " + vendors_dir);
    return true;
  }
  const char* tmpdir = std::getenv("TMPDIR");
  const std::string temp =
      tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp";
  std::string folder = temp + "/gpu-check.XXXXXX";
  if (mkdtemp(folder.data()) == nullptr) {
    error = "cannot make a temporary folder in TMPDIR (" + temp +
            "): " + std::strerror(errno);
    return false;
  }
  folder_ = folder;
  const fs::path registry = fs::path(folder);
  std::string enable;
  bool any = false;
  const auto add = [&](const std::string& library, const std::string& path) {
    std::ofstream icd(registry / IcdName(library));
    icd << path << "\n";
    icd.close();
    if (!icd && error.empty()) {
      error = "cannot write into the temporary folder " + folder +
              " in TMPDIR: is it full?";
    }
    notes.push_back("drivers: registered " + path);
    any = true;
  };
  for (const auto& [library, rusticl_driver] : kVendorLibraries) {
    const std::string path = FindLibrary(library, library_dirs);
    if (!path.empty()) {
      add(library, path);
    } else {
      enable += (enable.empty() ? "" : ",") + std::string(rusticl_driver);
    }
  }
  const std::string rusticl = FindLibrary(kRusticl, library_dirs);
  if (!rusticl.empty()) {
    add(kRusticl, rusticl);
    if (std::getenv("RUSTICL_ENABLE") == nullptr) {
      setenv("RUSTICL_ENABLE", enable.c_str(), 1);
      notes.push_back("RUSTICL_ENABLE=" + enable);
    }
  }
  if (!error.empty()) return false;
  if (!any) {
    error = "no OpenCL driver: none registered in " + vendors_dir +
            " and none of libnvidia-opencl.so.1 libamdocl64.so libigdrcl.so "
            "libRusticlOpenCL.so.1 in " + library_dirs;
    return false;
  }
  setenv("OCL_ICD_VENDORS", registry.c_str(), 1);
  notes.push_back("drivers: " + registry.string());
  return true;
}

std::string DefaultLibraryDirs() {
  utsname names = {};
  uname(&names);
  const std::string multiarch =
      std::string("/usr/lib/") + names.machine + "-linux-gnu";
  return multiarch + ":/usr/lib64:/usr/lib:/usr/local/lib:" +
         "/usr/local/nvidia/lib64:" + multiarch + "/nvidia/current:" +
         multiarch + "/intel-opencl:/opt/rocm/lib";
}

std::string LoadedOpenClLoader() {
  std::string found;
  dl_iterate_phdr(
      [](dl_phdr_info* info, std::size_t, void* data) {
        const std::string name = info->dlpi_name;
        if (name.find("libOpenCL.so") != std::string::npos) {
          *static_cast<std::string*>(data) = name;
          return 1;
        }
        return 0;
      },
      &found);
  return found;
}

}  // namespace vramcheck::fleet
