#ifndef VRAMCHECK_APP_ERROR_MESSAGE_H_
#define VRAMCHECK_APP_ERROR_MESSAGE_H_

#include <exception>
#include <string>

#include <CL/opencl.hpp>

namespace vramcheck {

// Symbolic name of an OpenCL status code ("CL_OUT_OF_RESOURCES"), or
// "unknown status" for a code that no OpenCL header defines.
const char* ClStatusName(cl_int status);

// Explains an exception that ends the program, in one line without a
// newline: the failed OpenCL call with its status by name and number, with a
// hint where one helps. A build failure is followed by each device's build
// log on the next lines.
std::string DescribeException(std::exception_ptr error);

}  // namespace vramcheck

#endif  // VRAMCHECK_APP_ERROR_MESSAGE_H_
