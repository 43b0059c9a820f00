#ifndef VRAMCHECK_FLEET_DRIVERS_H_
#define VRAMCHECK_FLEET_DRIVERS_H_

// Finding the OpenCL drivers on a machine where none is registered, as in
// containers that mount only a vendor's library.

#include <string>
#include <vector>

namespace vramcheck::fleet {

// The drivers of this process and its children: unless OCL_ICD_VENDORS is
// set or the folder GPU_CHECK_VENDORS (/etc/OpenCL/vendors) holds an .icd
// file, the first library of each vendor's name found in the folders of
// GPU_CHECK_LIBRARY_DIRS (colon-separated; DefaultLibraryDirs()), registered
// in a folder made in TMPDIR, which goes with this object. Where it
// registers Mesa's rusticl and RUSTICL_ENABLE is unset, it enables
// rusticl's drivers for the cards whose vendor library it did not find.
class DriverRegistration {
 public:
  DriverRegistration() = default;
  ~DriverRegistration();
  DriverRegistration(const DriverRegistration&) = delete;
  DriverRegistration& operator=(const DriverRegistration&) = delete;

  // Appends what it did to `notes`. Returns false with `error` set where
  // there is nothing to register, or TMPDIR cannot hold the registration.
  bool Register(std::vector<std::string>& notes, std::string& error);

 private:
  std::string folder_;
};

// The usual library folders of this machine's architecture, colon-separated.
std::string DefaultLibraryDirs();

// The path of the OpenCL loader this process runs with, or "".
std::string LoadedOpenClLoader();

}  // namespace vramcheck::fleet

#endif  // VRAMCHECK_FLEET_DRIVERS_H_
