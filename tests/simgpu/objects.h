#ifndef TESTS_SIMGPU_OBJECTS_H_
#define TESTS_SIMGPU_OBJECTS_H_

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <CL/cl_icd.h>

#include "config.h"

namespace simgpu {

class Blocks;

// The driver's own dispatch table.
cl_icd_dispatch* Dispatch();

enum class Kind : uint32_t {
  kPlatform = 0x5167d001,
  kDevice,
  kContext,
  kQueue,
  kProgram,
  kKernel,
};

// Head of every object the driver hands out. The loader dispatches through
// `dispatch`, which therefore comes first.
struct Object {
  explicit Object(Kind object_kind) : dispatch(Dispatch()), kind(object_kind) {}

  cl_icd_dispatch* dispatch;
  Kind kind;
};

// An object that lives by OpenCL reference counting. `references` counts the
// application's references and those of the driver's own child objects;
// `application_references` the application's alone.
struct Counted : Object {
  using Object::Object;

  std::atomic<cl_uint> references{1};
  std::atomic<cl_uint> application_references{1};
};

struct Device;

// Platforms and devices live as long as the process.
struct Platform : Object {
  using Handle = cl_platform_id;
  static constexpr Kind kKind = Kind::kPlatform;

  Platform() : Object(kKind) {}

  std::vector<Device*> devices;
};

struct Device : Object {
  using Handle = cl_device_id;
  static constexpr Kind kKind = Kind::kDevice;

  Device(Platform* owner, int number)
      : Object(kKind), platform(owner), index(number) {}

  Platform* platform;
  int index;  // Position among the devices of all platforms.
};

struct Context : Counted {
  using Handle = cl_context;
  static constexpr Kind kKind = Kind::kContext;

  Context(cl_context pocl_context, std::vector<Device*> context_devices,
          std::vector<cl_context_properties> context_properties);

  // The context's device behind `handle`, or nullptr.
  Device* Find(cl_device_id handle) const;

  cl_context pocl;
  std::vector<Device*> devices;
  std::vector<cl_context_properties> properties;  // As the caller gave them.
  std::shared_ptr<Blocks> blocks;
};

// Queues, programs and kernels hold a reference to their parent object.
struct Queue : Counted {
  using Handle = cl_command_queue;
  static constexpr Kind kKind = Kind::kQueue;

  Queue(cl_command_queue pocl_queue, Context* owner, Device* queue_device);

  cl_command_queue pocl;
  Context* context;
  Device* device;
  std::atomic<bool> write_pending{false};  // "Write" ran since the last "Read".
  std::mutex mutex;  // Guards the members below.
  // Launches whose event the application asked for, by kernel name, each
  // holding a reference to its event until the next clFinish logs its
  // profiled time.
  std::vector<std::pair<std::string, cl_event>> timed_launches;
  // The number of launches so far of each kernel, by name.
  std::map<std::string, uint64_t> launch_counts;
  // The user event, never completed, that a hung launch waits for; nullptr
  // until a launch hangs.
  cl_event hang_gate = nullptr;
};

struct Program : Counted {
  using Handle = cl_program;
  static constexpr Kind kKind = Kind::kProgram;

  Program(cl_program pocl_program, Context* owner);

  cl_program pocl;
  Context* context;
};

struct Kernel : Counted {
  using Handle = cl_kernel;
  static constexpr Kind kKind = Kind::kKernel;

  Kernel(cl_kernel pocl_kernel, Program* owner, std::string kernel_name);

  cl_kernel pocl;
  Program* program;
  std::string name;
};

// The driver's object of type T behind `handle`, or nullptr when `handle` is
// not one.
template <typename T>
T* Unwrap(typename T::Handle handle) {
  auto* object = reinterpret_cast<Object*>(handle);
  if (object == nullptr || object->dispatch != Dispatch() ||
      object->kind != T::kKind) {
    return nullptr;
  }
  return static_cast<T*>(object);
}

template <typename T>
typename T::Handle Wrap(T* object) {
  return reinterpret_cast<typename T::Handle>(static_cast<Object*>(object));
}

inline std::vector<cl_device_id> Handles(const std::vector<Device*>& devices) {
  std::vector<cl_device_id> handles;
  for (Device* device : devices) handles.push_back(Wrap(device));
  return handles;
}

// Log the object's end, release its PoCL object and its parent, delete it.
void Destroy(Context* context);
void Destroy(Queue* queue);
void Destroy(Program* program);
void Destroy(Kernel* kernel);

template <typename T>
void Retain(T* object) {
  ++object->references;
}

template <typename T>
void Release(T* object) {
  if (--object->references == 0) Destroy(object);
}

// Names an object in the log.
inline std::string LogName(const Context*) { return "context"; }
inline std::string LogName(const Queue*) { return "queue"; }
inline std::string LogName(const Program*) { return "program"; }
inline std::string LogName(const Kernel* kernel) {
  return "kernel " + kernel->name;
}

template <typename T, cl_int kInvalid>
cl_int CL_API_CALL RetainHandle(typename T::Handle handle) {
  T* object = Unwrap<T>(handle);
  if (object == nullptr) return kInvalid;
  ++object->application_references;
  Retain(object);
  return CL_SUCCESS;
}

// Logs "release <name>" when the application lets go of its last reference,
// which is when the object ends for the application, whatever the driver's
// child objects still hold.
template <typename T, cl_int kInvalid>
cl_int CL_API_CALL ReleaseHandle(typename T::Handle handle) {
  T* object = Unwrap<T>(handle);
  if (object == nullptr) return kInvalid;
  if (--object->application_references == 0) {
    LogEvent("release " + LogName(object));
  }
  Release(object);
  return CL_SUCCESS;
}

inline void SetStatus(cl_int* errcode_ret, cl_int status) {
  if (errcode_ret != nullptr) *errcode_ret = status;
}

}  // namespace simgpu

#endif  // TESTS_SIMGPU_OBJECTS_H_
