#ifndef VRAMCHECK_TESTS_SUPPORT_SIM_GPU_FIXTURE_H_
#define VRAMCHECK_TESTS_SUPPORT_SIM_GPU_FIXTURE_H_

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <CL/opencl.hpp>

#include "devices/device_discovery.h"
#include "temp_folder.h"

namespace vramcheck::test_support {

// Base for tests that run on the simulated GPU in this process. The driver
// re-reads its SIMGPU_* settings on every use, so each test sets its own and
// they are cleared afterwards. Every test gets a driver log of its own.
class SimGpuFixture : public testing::Test {
 protected:
  void SetUp() override {
    log_path_ = folder_.File("simgpu.log");
    std::vector<cl::Device> devices;
    FindTestableDevices(devices);
    ASSERT_EQ(devices.size(), 1u);
    device_ = devices[0];
    Set("SIMGPU_LOG", log_path_);
  }

  void TearDown() override {
    for (const std::string& name : set_) unsetenv(name.c_str());
  }

  void Set(const std::string& name, const std::string& value) {
    setenv(name.c_str(), value.c_str(), 1);
    set_.push_back(name);
  }

  // The driver's log lines so far that start with `prefix`.
  std::vector<std::string> Log(const std::string& prefix = "") const {
    std::ifstream file(log_path_);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) {
      if (line.rfind(prefix, 0) == 0) lines.push_back(line);
    }
    return lines;
  }

  const std::string& LogPath() const { return log_path_; }

  cl::Device device_;

 private:
  TempFolder folder_;
  std::string log_path_;
  std::vector<std::string> set_;
};

}  // namespace vramcheck::test_support

#endif  // VRAMCHECK_TESTS_SUPPORT_SIM_GPU_FIXTURE_H_
