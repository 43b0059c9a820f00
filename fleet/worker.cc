#include "worker.h"

#include <unistd.h>

#include <chrono>
#include <exception>
#include <memory>
#include <stop_token>
#include <string>
#include <vector>

#include <CL/cl_ext.h>
#include <CL/opencl.hpp>
#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "app/error_message.h"
#include "devices/device_discovery.h"
#include "test_engine/memory_tester.h"

namespace vramcheck::fleet {
namespace {

using nlohmann::json;

// The queries of the vendors' own PCI attributes, for drivers without
// cl_khr_pci_bus_info.
constexpr cl_device_info kNvPciBus = 0x4008;
constexpr cl_device_info kNvPciSlot = 0x4009;
constexpr cl_device_info kNvPciDomain = 0x400A;
constexpr cl_device_info kAmdTopology = 0x4037;

void Send(int fd, const json& message) {
  const std::string line =
      message.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
  std::size_t sent = 0;
  while (sent < line.size()) {
    const ssize_t n = write(fd, line.data() + sent, line.size() - sent);
    // The supervisor is gone: nobody is left to tell.
    if (n <= 0) _exit(3);
    sent += static_cast<std::size_t>(n);
  }
}

void SendError(int fd, const std::string& message) {
  Send(fd, {{"kind", "error"}, {"message", message}});
}

// A device query that may fail: false, leaving `value` as it was, where
// the driver does not answer it.
template <typename T>
bool Query(const cl::Device& device, cl_device_info what, T& value) {
  return clGetDeviceInfo(device(), what, sizeof value, &value, nullptr) ==
         CL_SUCCESS;
}

std::string PciBus(const cl::Device& device, const std::string& extensions) {
  if (extensions.find("cl_khr_pci_bus_info") != std::string::npos) {
    cl_device_pci_bus_info_khr info = {};
    if (Query(device, CL_DEVICE_PCI_BUS_INFO_KHR, info)) {
      return fmt::format("{:04x}:{:02x}:{:02x}.{:x}", info.pci_domain,
                         info.pci_bus, info.pci_device, info.pci_function);
    }
  }
  if (extensions.find("cl_nv_device_attribute_query") != std::string::npos) {
    cl_uint bus = 0;
    cl_uint slot = 0;
    cl_uint domain = 0;
    if (Query(device, kNvPciBus, bus) && Query(device, kNvPciSlot, slot)) {
      Query(device, kNvPciDomain, domain);
      return fmt::format("{:04x}:{:02x}:{:02x}.{:x}", domain, bus, slot >> 3,
                         slot & 7);
    }
  }
  if (extensions.find("cl_amd_device_attribute_query") != std::string::npos) {
    // cl_device_topology_amd: a type word, 17 bytes, then bus, device and
    // function.
    unsigned char topology[24] = {};
    if (Query(device, kAmdTopology, topology) && topology[0] == 1) {
      return fmt::format("0000:{:02x}:{:02x}.{:x}", topology[21],
                         topology[22], topology[23]);
    }
  }
  return "";
}

std::string Uuid(const cl::Device& device, const std::string& extensions) {
  if (extensions.find("cl_khr_device_uuid") == std::string::npos) return "";
  unsigned char uuid[CL_UUID_SIZE_KHR] = {};
  if (!Query(device, CL_DEVICE_UUID_KHR, uuid)) return "";
  std::string text;
  for (const unsigned char byte : uuid) text += fmt::format("{:02x}", byte);
  return text;
}

DeviceIdentity Identify(const cl::Device& device) {
  const std::string extensions = device.getInfo<CL_DEVICE_EXTENSIONS>();
  return {device.getInfo<CL_DEVICE_NAME>(),
          device.getInfo<CL_DEVICE_VENDOR>(),
          device.getInfo<CL_DRIVER_VERSION>(),
          device.getInfo<CL_DEVICE_GLOBAL_MEM_SIZE>(),
          PciBus(device, extensions),
          Uuid(device, extensions)};
}

// Runs `body`, turning whatever it throws into an error line: the
// tester's own explanation.
int Explained(int fd, const std::function<int()>& body) {
  try {
    return body();
  } catch (...) {
    SendError(fd, DescribeException(std::current_exception()));
    return 1;
  }
}

int Probe(int fd) {
  std::vector<cl::Device> devices;
  FindTestableDevices(devices);
  if (devices.empty()) {
    SendError(fd, "Device not found.");
    return 1;
  }
  for (std::size_t i = 0; i < devices.size(); ++i) {
    const DeviceIdentity identity = Identify(devices[i]);
    Send(fd, {{"kind", "device"},
              {"index", i},
              {"identity", IdentityJson(identity)},
              {"max_blocks", MaxBlocks(identity.memory)}});
  }
  return 0;
}

std::string Describe(const DeviceIdentity& identity) {
  std::string text = fmt::format("\"{}\", {} bytes", Printable(identity.name),
                                 identity.memory);
  if (!identity.pci_bus.empty()) text += ", PCI " + identity.pci_bus;
  if (!identity.uuid.empty()) text += ", UUID " + identity.uuid;
  return text;
}

int Test(int fd, const WorkerPlan& plan) {
  std::vector<cl::Device> devices;
  FindTestableDevices(devices);
  if (plan.device >= devices.size()) {
    SendError(fd, fmt::format("the device list changed: device {} is gone, "
                              "{} devices are left",
                              plan.device, devices.size()));
    return 1;
  }
  const DeviceIdentity now = Identify(devices[plan.device]);
  if (!SameCard(plan.listed, now)) {
    SendError(fd, fmt::format("the device list changed: device {} was {}, "
                              "now it is {}",
                              plan.device, Describe(plan.listed),
                              Describe(now)));
    return 1;
  }
  auto test = std::make_unique<MemoryTest>(devices[plan.device]);
  std::uint64_t total_bytes = 0;
  if (!test->Prepare(total_bytes, plan.blocks)) {
    SendError(fd, "Failure to prepare memory test.");
    return 1;
  }
  Send(fd, {{"kind", "ready"}, {"blocks", plan.blocks}});

  std::vector<std::uint32_t> word_errors;
  std::vector<std::uint32_t> bit_errors;
  std::vector<float> write_speeds;
  std::vector<float> read_speeds;
  const std::stop_source never;
  const auto end = std::chrono::steady_clock::now() +
                   std::chrono::duration<double>(plan.seconds);
  for (std::uint32_t pass = 1;; ++pass) {
    const auto tell = [&](const BlockReport& report) {
      Send(fd, {{"kind", "block"},
                {"pass", pass},
                {"block", report.block},
                {"kernel", report.kernel == BlockReport::Kernel::kWrite
                               ? "write"
                               : "read"},
                {"device_ns", report.device_ns},
                {"host_ns", report.host_ns},
                {"word_errors", report.word_errors},
                {"bit_errors", report.bit_errors}});
    };
    test->RunPass(word_errors, bit_errors, write_speeds, read_speeds, pass,
                  never.get_token(), tell);
    Send(fd, {{"kind", "pass"}, {"pass", pass}});
    if (std::chrono::steady_clock::now() >= end) break;
  }
  Send(fd, {{"kind", "end"}});
  return 0;
}

}  // namespace

int ListDevicesInChild(int fd) {
  return Explained(fd, [&] { return Probe(fd); });
}

int TestInChild(int fd, const WorkerPlan& plan) {
  return Explained(fd, [&] { return Test(fd, plan); });
}

}  // namespace vramcheck::fleet
