// Child processes under supervision, and workers on the simulated GPU: hung
// kernels, cards that change between the probe and the test, and nothing
// of a child left once it ended.

#include <errno.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "device_runs.h"
#include "subprocess.h"
#include "temp_folder.h"

namespace vramcheck::fleet {
namespace {

using std::chrono::duration;
using std::chrono::seconds;

class FleetSuperviseTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Whatever a child leaves behind becomes this process's to see.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
  }

  void SetUp() override {
    config_ = folder_.File("simgpu.conf");
    setenv("SIMGPU_CONFIG_FILE", config_.c_str(), 1);
  }
  void TearDown() override { unsetenv("SIMGPU_CONFIG_FILE"); }

  // The driver's settings for the processes that read them from now on:
  // `count` devices of one block each, then `more`.
  void Configure(int count, const std::string& more = "") {
    std::ofstream file(config_);
    file << "SIMGPU_PLATFORMS=" << count << "\n";
    for (int i = 0; i < count; ++i) {
      file << "SIMGPU_DEVICE" << i << "_GLOBAL_MEM_SIZE=0x8000008\n";
    }
    file << more;
  }

  // Fails where a child process of this one is still alive a second on.
  static void ExpectNoChildLeft() {
    const auto give_up = std::chrono::steady_clock::now() + seconds(1);
    for (;;) {
      const pid_t pid = waitpid(-1, nullptr, WNOHANG);
      if (pid < 0) break;  // no child at all
      if (pid == 0 && std::chrono::steady_clock::now() > give_up) {
        ADD_FAILURE() << "a child process is still alive";
        return;
      }
      if (pid == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(errno, ECHILD);
  }

  test_support::TempFolder folder_;
  std::string config_;
};

DeviceTry Try(std::uint32_t device, const std::string& log_file = "") {
  return {device, 1, log_file, RunLog(device, 1, 0), {}, {}};
}

TEST_F(FleetSuperviseTest, EndsTheWholeGroupOfASilentChild) {
  Subprocess child = StartFunction(
      [](int) {
        if (fork() == 0) {
          std::printf("%d\n", static_cast<int>(getpid()));
          std::fflush(stdout);
          for (;;) pause();
        }
        for (;;) pause();
        return 0;
      },
      -1);
  child.silence_bound = std::chrono::milliseconds(300);
  pid_t grandchild = 0;
  child.on_line = [&](const std::string& line) {
    grandchild = std::atoi(line.c_str());
  };
  Subprocess quits = StartFunction([](int) { return 3; }, -1);
  Subprocess late = StartFunction([](int fd) {
    (void)!write(fd, "unfinished", 10);
    for (;;) pause();
    return 0;
  }, -1);
  late.deadline = late.started + std::chrono::milliseconds(300);
  std::string unfinished;
  late.on_line = [&](const std::string& line) { unfinished = line; };
  Supervise({&child, &quits, &late});
  EXPECT_TRUE(child.stalled);
  EXPECT_FALSE(child.timed_out);
  EXPECT_EQ(EndedWith(child.wait_status), "SIGKILL");
  EXPECT_EQ(EndedWith(quits.wait_status), "status 3");
  EXPECT_FALSE(ExitedCleanly(quits.wait_status));
  EXPECT_FALSE(quits.stalled || quits.timed_out);
  EXPECT_TRUE(late.timed_out);
  EXPECT_FALSE(late.stalled);
  EXPECT_EQ(unfinished, "unfinished");
  ASSERT_GT(grandchild, 0);
  ExpectNoChildLeft();
  EXPECT_EQ(kill(-child.pid, 0), -1);
  EXPECT_EQ(kill(grandchild, 0), -1);
}

TEST_F(FleetSuperviseTest, HungKernelIsFoundWithinTheStallBound) {
  // With one block, the third Read launch is pass 3's of block 0.
  Configure(1, "SIMGPU_HANG_LAUNCH=Read:3\n");
  std::vector<ListedDevice> listed;
  std::string error;
  ASSERT_TRUE(ProbeDevices(listed, error)) << error;
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].max_blocks, 1u);
  std::vector<DeviceTry> tries;
  tries.push_back(Try(0, folder_.File("device0.log")));
  const auto start = std::chrono::steady_clock::now();
  RunTries(tries, listed, 60, seconds(3));
  const double took =
      duration<double>(std::chrono::steady_clock::now() - start).count();
  const DeviceTry& t = tries[0];
  ASSERT_TRUE(t.evidence.stall);
  EXPECT_EQ(t.evidence.stall->pass, 3u);
  EXPECT_EQ(t.evidence.stall->block, 0u);
  EXPECT_EQ(t.evidence.passes.size(), 2u);
  EXPECT_EQ(t.judgement.verdict, Verdict::kFailed);
  EXPECT_EQ(t.judgement.message,
            "device 0 stopped responding after " +
                SecondsText(t.evidence.stall->seconds) +
                " in pass 3, block 0");
  EXPECT_GE(took, t.evidence.stall->seconds + 2.9);
  EXPECT_LT(took, t.evidence.stall->seconds + 5);
  ExpectNoChildLeft();
  std::ifstream log(tries[0].log_file);
  std::stringstream text;
  text << log.rdbuf();
  EXPECT_NE(text.str().find(R"("kernel":"write","kind":"block","pass":3)"),
            std::string::npos)
      << text.str();
}

TEST_F(FleetSuperviseTest, ACardThatChangedAfterTheProbeFailsAlone) {
  Configure(3);
  std::vector<ListedDevice> listed;
  std::string error;
  ASSERT_TRUE(ProbeDevices(listed, error)) << error;
  ASSERT_EQ(listed.size(), 3u);
  // Device 2 fell off the bus, and another card took device 1's place.
  Configure(2, "SIMGPU_DEVICE1_NAME=Other GPU\n");
  std::vector<DeviceTry> tries;
  for (std::uint32_t device = 0; device < 3; ++device) {
    tries.push_back(Try(device));
  }
  RunTries(tries, listed, 2, seconds(20));
  EXPECT_EQ(tries[0].judgement.verdict, Verdict::kClean)
      << tries[0].judgement.message;
  EXPECT_GE(tries[0].evidence.passes.size(), 1u);
  EXPECT_EQ(tries[1].judgement.verdict, Verdict::kFailed);
  EXPECT_EQ(tries[1].judgement.message,
            "the device list changed: device 1 was \"Simulated GPU\", "
            "134217736 bytes, now it is \"Other GPU\", 134217736 bytes");
  EXPECT_EQ(tries[2].judgement.verdict, Verdict::kFailed);
  EXPECT_EQ(tries[2].judgement.message,
            "the device list changed: device 2 is gone, 2 devices are left");
  ExpectNoChildLeft();
}

TEST_F(FleetSuperviseTest, ProbeWithoutDevicesSaysSo) {
  Configure(0);
  std::vector<ListedDevice> listed(1);
  std::string error;
  EXPECT_FALSE(ProbeDevices(listed, error));
  EXPECT_EQ(error, "Device not found.");
  EXPECT_TRUE(listed.empty());
}

}  // namespace
}  // namespace vramcheck::fleet
