// A signal while workers run on the simulated GPU. Signals stay caught in a
// process once taken, so this test has a process of its own.

#include <errno.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "device_runs.h"
#include "subprocess.h"
#include "temp_folder.h"

namespace vramcheck::fleet {
namespace {

using Clock = std::chrono::steady_clock;

// The driver's log lines so far that start with `prefix`.
std::size_t CountLines(const std::string& path, const std::string& prefix) {
  std::ifstream file(path);
  std::size_t count = 0;
  for (std::string line; std::getline(file, line);) {
    if (line.rfind(prefix, 0) == 0) ++count;
  }
  return count;
}

TEST(FleetSignalTest, TermEndsEveryWorkerAndInterruptsEachTry) {
  test_support::TempFolder folder;
  const std::string config = folder.File("simgpu.conf");
  const std::string driver_log = folder.File("simgpu.log");
  // Device 0 hangs in its second pass, once the test program is built
  // (both simulated devices share one PoCL cache, whose build a hung first
  // launch can hold); device 1 runs, a bit flipping in each pass.
  std::ofstream(config) << "SIMGPU_PLATFORMS=2\n"
                        << "SIMGPU_DEVICE0_GLOBAL_MEM_SIZE=0x8000008\n"
                        << "SIMGPU_DEVICE1_GLOBAL_MEM_SIZE=0x8000008\n"
                        << "SIMGPU_DEVICE0_HANG_LAUNCH=Write:2\n"
                        << "SIMGPU_DEVICE1_BIT_FAULTS=0:0:0x100\n"
                        << "SIMGPU_LOG=" << driver_log << "\n";
  setenv("SIMGPU_CONFIG_FILE", config.c_str(), 1);
  std::vector<ListedDevice> listed;
  std::string error;
  ASSERT_TRUE(ProbeDevices(listed, error)) << error;
  ASSERT_EQ(listed.size(), 2u);

  CatchSignals();
  // Started after CatchSignals, so the signal waits for the supervisor.
  Clock::time_point signalled = Clock::time_point::max();
  std::thread signaller([&] {
    // Device 0 finishes one Read, device 1 one a pass: at the third, device
    // 1's first pass's records were sent.
    const auto give_up = Clock::now() + std::chrono::seconds(60);
    while (CountLines(driver_log, "profile Read") < 3 &&
           Clock::now() < give_up) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    signalled = Clock::now();
    kill(getpid(), SIGTERM);
  });
  std::vector<DeviceTry> tries;
  for (std::uint32_t device = 0; device < 2; ++device) {
    tries.push_back({device, 1, "", RunLog(device, 1, 600), {}, {}});
  }
  RunTries(tries, listed, 600, std::chrono::seconds(120));
  const Clock::time_point ended = Clock::now();
  signaller.join();

  EXPECT_EQ(CaughtSignal(), SIGTERM);
  EXPECT_LT(ended - signalled, std::chrono::seconds(6));
  EXPECT_EQ(tries[0].judgement.verdict, Verdict::kInterrupted);
  EXPECT_EQ(tries[0].judgement.message, "interrupted by SIGTERM");
  EXPECT_EQ(tries[1].judgement.verdict, Verdict::kErrors);
  EXPECT_EQ(tries[1].judgement.message, "then interrupted by SIGTERM");
  EXPECT_GE(tries[1].evidence.bit_errors, 1u);
  EXPECT_EQ(VerdictStatus(tries[0].judgement.verdict, CaughtSignal()),
            128 + SIGTERM);
  errno = 0;
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
  unsetenv("SIMGPU_CONFIG_FILE");
}

}  // namespace
}  // namespace vramcheck::fleet
