// A child process for simgpu_test, which needs a fresh process wherever the
// loader's list of platforms or a hung launch is concerned.
//
//   simgpu_probe list
//     Prints "<n> <name>" for device n of all platforms, in order.
//   simgpu_probe launch <device> <count> finish|event
//     Enqueues <count> launches of the kernel "Read" on device <device> and
//     waits for them with clFinish or clWaitForEvents. Prints "finished"
//     when the wait returns. When it has not returned after a second,
//     prints "hung after <k> launches, idle" (or "busy" when the process
//     used a third of that second's processor time or more while waiting),
//     where k launches completed, and exits with status 3.

#include <time.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <CL/opencl.hpp>

namespace {

constexpr char kSource[] = "kernel void Read(global const uint* block) {}\n";
constexpr auto kHangTimeout = std::chrono::seconds(1);
constexpr double kBusyCpuSeconds = 1.0 / 3;
constexpr int kHungStatus = 3;

std::vector<cl::Device> AllDevices() {
  std::vector<cl::Platform> platforms;
  cl::Platform::get(&platforms);
  std::vector<cl::Device> all;
  for (const cl::Platform& platform : platforms) {
    std::vector<cl::Device> devices;
    platform.getDevices(CL_DEVICE_TYPE_ALL, &devices);
    all.insert(all.end(), devices.begin(), devices.end());
  }
  return all;
}

int List() {
  const std::vector<cl::Device> devices = AllDevices();
  for (size_t i = 0; i < devices.size(); ++i) {
    std::printf("%zu %s\n", i, devices[i].getInfo<CL_DEVICE_NAME>().c_str());
  }
  return EXIT_SUCCESS;
}

double CpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec * 1e-9;
}

size_t CompleteCount(const std::vector<cl::Event>& events) {
  return std::count_if(events.begin(), events.end(), [](const cl::Event& e) {
    return e.getInfo<CL_EVENT_COMMAND_EXECUTION_STATUS>() == CL_COMPLETE;
  });
}

// Runs `wait` while a watchdog thread gives it kHangTimeout to return, and
// reports the hang and ends the process when it does not.
int WaitOrReportHang(const std::function<void()>& wait,
                     const std::vector<cl::Event>& events) {
  std::mutex mutex;
  std::condition_variable returned_changed;
  bool returned = false;
  std::thread watchdog([&] {
    const double start = CpuSeconds();
    std::unique_lock<std::mutex> lock(mutex);
    if (returned_changed.wait_for(lock, kHangTimeout,
                                  [&] { return returned; })) {
      return;
    }
    const bool busy = CpuSeconds() - start >= kBusyCpuSeconds;
    std::printf("hung after %zu launches, %s\n", CompleteCount(events),
                busy ? "busy" : "idle");
    std::fflush(stdout);
    std::_Exit(kHungStatus);
  });
  wait();
  {
    const std::lock_guard<std::mutex> lock(mutex);
    returned = true;
  }
  returned_changed.notify_one();
  watchdog.join();
  std::printf("finished\n");
  return EXIT_SUCCESS;
}

int Launch(size_t device_index, size_t count, const std::string& wait_by) {
  const cl::Device device = AllDevices().at(device_index);
  cl::Context context(device);
  cl::CommandQueue queue(context, device);
  cl::Program program(context, kSource);
  program.build();
  const cl::Buffer buffer(context, CL_MEM_READ_WRITE, 64);
  cl::Kernel kernel(program, "Read");
  kernel.setArg(0, buffer);
  std::vector<cl::Event> events(count);
  for (cl::Event& event : events) {
    queue.enqueueNDRangeKernel(kernel, cl::NullRange, cl::NDRange(16),
                               cl::NullRange, nullptr, &event);
  }
  queue.flush();
  if (wait_by == "finish") {
    return WaitOrReportHang([&] { queue.finish(); }, events);
  }
  return WaitOrReportHang([&] { cl::Event::waitForEvents(events); }, events);
}

int Run(const std::vector<std::string>& args) {
  if (args.size() == 1 && args[0] == "list") return List();
  if (args.size() == 4 && args[0] == "launch" &&
      (args[3] == "finish" || args[3] == "event")) {
    return Launch(std::stoul(args[1]), std::stoul(args[2]), args[3]);
  }
  std::fprintf(stderr,
               "usage: simgpu_probe list\n"
               "       simgpu_probe launch DEVICE COUNT finish|event\n");
  return EXIT_FAILURE;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const cl::Error& error) {
    std::fprintf(stderr, "simgpu_probe: %s: %d\n", error.what(), error.err());
    return EXIT_FAILURE;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "simgpu_probe: %s\n", error.what());
    return EXIT_FAILURE;
  }
}
