#ifndef VRAMCHECK_FLEET_DRIVERS_H_
#define VRAMCHECK_FLEET_DRIVERS_H_

// Finding the OpenCL drivers on a machine where none is registered, as in
// containers that mount only a vendor's library.

#include <string>
#include <vector>

namespace vramcheck::fleet {

// Unless OCL_ICD_VENDORS is set or `vendors_dir` holds an .icd file,
// registers for this process and its children the first library of each
// vendor's name found in `library_dirs` (colon-separated), in a folder it
// makes in TMPDIR (`work_dir` tells it, for its removal), and where it registers Mesa's rusticl and
// RUSTICL_ENABLE is unset, enables rusticl's drivers for the cards whose
// vendor library it did not find. Appends what it did to `notes`. Returns
// false with `error` set where there is nothing to register.
bool RegisterDrivers(const std::string& vendors_dir,
                     const std::string& library_dirs,
                     std::string& work_dir, std::vector<std::string>& notes,
                     std::string& error);

// The usual library folders of this machine's architecture, colon-separated.
std::string DefaultLibraryDirs();

// The path of the OpenCL loader this process runs with, or "".
std::string LoadedOpenClLoader();

}  // namespace vramcheck::fleet

#endif  // VRAMCHECK_FLEET_DRIVERS_H_
