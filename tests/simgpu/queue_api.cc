// Command queues and the commands enqueued on them.

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "api.h"
#include "config.h"
#include "device_config.h"
#include "info.h"
#include "faults.h"
#include "pocl.h"

namespace simgpu {
namespace {

// An enqueue entry whose only handle of the driver's is its queue: it is
// forwarded to PoCL with the queue translated.
template <auto kEntry>
struct OnPoclQueue;

template <typename... Args, cl_int (CL_API_CALL* cl_icd_dispatch::*kEntry)(
                                cl_command_queue, Args...)>
struct OnPoclQueue<kEntry> {
  static cl_int CL_API_CALL Call(cl_command_queue queue, Args... args) {
    const Queue* own = Unwrap<Queue>(queue);
    if (own == nullptr) return CL_INVALID_COMMAND_QUEUE;
    return (PoclApi().*kEntry)(own->pocl, args...);
  }
};

// clCreateCommandQueue and clCreateCommandQueueWithProperties, which differ
// only in the form of their properties.
template <typename Properties, auto kCreate>
cl_command_queue CL_API_CALL CreateQueue(cl_context context,
                                         cl_device_id device,
                                         Properties properties,
                                         cl_int* errcode_ret) {
  Context* own = Unwrap<Context>(context);
  Device* own_device = own == nullptr ? nullptr : own->Find(device);
  if (own_device == nullptr) {
    SetStatus(errcode_ret,
              own == nullptr ? CL_INVALID_CONTEXT : CL_INVALID_DEVICE);
    return nullptr;
  }
  cl_int status = CL_SUCCESS;
  cl_command_queue pocl =
      (PoclApi().*kCreate)(own->pocl, GetPocl()->device, properties, &status);
  SetStatus(errcode_ret, status);
  if (pocl == nullptr) return nullptr;
  LogEvent("create queue");
  return Wrap(new Queue(pocl, own, own_device));
}

cl_int CL_API_CALL GetCommandQueueInfo(cl_command_queue queue,
                                       cl_command_queue_info param, size_t size,
                                       void* value, size_t* size_ret) {
  const Queue* own = Unwrap<Queue>(queue);
  if (own == nullptr) return CL_INVALID_COMMAND_QUEUE;
  const InfoOut out{size, value, size_ret};
  switch (param) {
    case CL_QUEUE_CONTEXT:
      return out.Scalar(Wrap(own->context));
    case CL_QUEUE_DEVICE:
      return out.Scalar(Wrap(own->device));
    case CL_QUEUE_REFERENCE_COUNT:
      return out.Scalar<cl_uint>(own->references);
    default:
      return PoclApi().clGetCommandQueueInfo(own->pocl, param, size, value,
                                             size_ret);
  }
}

void* CL_API_CALL EnqueueMapBuffer(cl_command_queue queue, cl_mem buffer,
                                   cl_bool blocking, cl_map_flags flags,
                                   size_t offset, size_t size,
                                   cl_uint num_events,
                                   const cl_event* wait_list, cl_event* event,
                                   cl_int* errcode_ret) {
  const Queue* own = Unwrap<Queue>(queue);
  if (own == nullptr) {
    SetStatus(errcode_ret, CL_INVALID_COMMAND_QUEUE);
    return nullptr;
  }
  size_t buffer_size = 0;
  PoclApi().clGetMemObjectInfo(buffer, CL_MEM_SIZE, sizeof(buffer_size),
                               &buffer_size, nullptr);
  LogEvent("map buffer " + std::to_string(buffer_size) + " " +
           FlagsText(flags));
  return PoclApi().clEnqueueMapBuffer(own->pocl, buffer, blocking, flags,
                                      offset, size, num_events, wait_list,
                                      event, errcode_ret);
}

// PoCL's dispatch table for the events of a device whose profiling clock is
// not PoCL's own, with the profiling query its own. The table comes first:
// such an event points at it.
struct ClockedEventApi {
  cl_icd_dispatch table;
  ProfilingClock clock;
};

// Reports a stuck clock's fixed START and END, or END as START plus the
// slowdown times the time PoCL measured.
cl_int CL_API_CALL GetClockedEventProfilingInfo(cl_event event,
                                                cl_profiling_info param,
                                                size_t size, void* value,
                                                size_t* size_ret) {
  cl_int status =
      PoclApi().clGetEventProfilingInfo(event, param, size, value, size_ret);
  const bool start_or_end =
      param == CL_PROFILING_COMMAND_START || param == CL_PROFILING_COMMAND_END;
  if (status != CL_SUCCESS || !start_or_end || value == nullptr ||
      size < sizeof(cl_ulong)) {
    return status;
  }
  const ProfilingClock& clock =
      (*reinterpret_cast<ClockedEventApi**>(event))->clock;
  auto& time = *static_cast<cl_ulong*>(value);
  if (clock.stuck) {
    time = (*clock.stuck)[param == CL_PROFILING_COMMAND_END ? 1 : 0];
    return CL_SUCCESS;
  }
  if (param == CL_PROFILING_COMMAND_START) return CL_SUCCESS;
  cl_ulong start = 0;
  status = PoclApi().clGetEventProfilingInfo(
      event, CL_PROFILING_COMMAND_START, sizeof(start), &start, nullptr);
  time = start + (time - start) * clock.slowdown;
  return status;
}

// Makes `event`, a launch's, report its times by `clock`, by pointing it at
// a copy of PoCL's dispatch table (one per clock).
void SetClock(cl_event event, const ProfilingClock& clock) {
  static auto* const mutex = new std::mutex;
  static auto* const apis =
      new std::map<ProfilingClock, std::unique_ptr<ClockedEventApi>>;
  const std::lock_guard<std::mutex> lock(*mutex);
  std::unique_ptr<ClockedEventApi>& api = (*apis)[clock];
  if (api == nullptr) {
    api.reset(new ClockedEventApi{PoclApi(), clock});
    api->table.clGetEventProfilingInfo = GetClockedEventProfilingInfo;
    // Unmarked, so that a loader calls through this table (see pocl.cc).
    api->table.clGetPlatformIDs = nullptr;
  }
  *reinterpret_cast<ClockedEventApi**>(event) = api.get();
}

// The launches timed since the last call; the caller releases their events.
std::vector<std::pair<std::string, cl_event>> TakeTimedLaunches(Queue& queue) {
  const std::lock_guard<std::mutex> lock(queue.mutex);
  return std::exchange(queue.timed_launches, {});
}

// Finishes the queue, then logs the profiled time of every launch since the
// last clFinish that kept its event.
cl_int CL_API_CALL Finish(cl_command_queue queue) {
  Queue* own = Unwrap<Queue>(queue);
  if (own == nullptr) return CL_INVALID_COMMAND_QUEUE;
  const cl_int status = PoclApi().clFinish(own->pocl);
  for (const auto& [kernel, event] : TakeTimedLaunches(*own)) {
    // As the application sees it, through the event's own dispatch table.
    const cl_icd_dispatch& api = **reinterpret_cast<cl_icd_dispatch**>(event);
    cl_ulong start = 0, end = 0;
    api.clGetEventProfilingInfo(event, CL_PROFILING_COMMAND_START,
                                sizeof(start), &start, nullptr);
    api.clGetEventProfilingInfo(event, CL_PROFILING_COMMAND_END, sizeof(end),
                                &end, nullptr);
    LogEvent("profile " + kernel + " " + std::to_string(end - start));
    PoclApi().clReleaseEvent(event);
  }
  return status;
}

// The number of this launch of `kernel` on the queue, from 1.
uint64_t CountLaunch(Queue& queue, const std::string& kernel) {
  const std::lock_guard<std::mutex> lock(queue.mutex);
  return ++queue.launch_counts[kernel];
}

// Makes what is enqueued next never run, as if a kernel had hung the device:
// it comes after a barrier that waits for the queue's hang gate, a user event
// that is never completed, so every wait for it blocks (in PoCL, sleeping)
// until the process is killed.
cl_int HangQueue(Queue& queue) {
  const std::lock_guard<std::mutex> lock(queue.mutex);
  if (queue.hang_gate == nullptr) {
    cl_int status = CL_SUCCESS;
    queue.hang_gate = PoclApi().clCreateUserEvent(queue.context->pocl, &status);
    if (queue.hang_gate == nullptr) return status;
  }
  return PoclApi().clEnqueueBarrierWithWaitList(queue.pocl, 1, &queue.hang_gate,
                                                nullptr);
}

// Launches of the kernels named "Write" and "Read" drive fault injection.
cl_int CL_API_CALL
EnqueueNDRangeKernel(cl_command_queue queue, cl_kernel kernel, cl_uint work_dim,
                     const size_t* global_offset, const size_t* global_size,
                     const size_t* local_size, cl_uint num_events,
                     const cl_event* wait_list, cl_event* event) {
  Queue* own = Unwrap<Queue>(queue);
  if (own == nullptr) return CL_INVALID_COMMAND_QUEUE;
  const Kernel* own_kernel = Unwrap<Kernel>(kernel);
  if (own_kernel == nullptr) return CL_INVALID_KERNEL;
  if (own_kernel->program->context != own->context) return CL_INVALID_CONTEXT;
  const LaunchFault fault =
      ConfiguredLaunchFault(own->device->index, own_kernel->name,
                            CountLaunch(*own, own_kernel->name));
  if (fault == LaunchFault::kFail) return CL_OUT_OF_RESOURCES;
  if (own_kernel->name == "Read") {
    const cl_int status = InjectFaultsBeforeRead(*own);
    if (status != CL_SUCCESS) return status;
  }
  if (fault == LaunchFault::kHang) {
    const cl_int status = HangQueue(*own);
    if (status != CL_SUCCESS) return status;
  }
  const cl_int status = PoclApi().clEnqueueNDRangeKernel(
      own->pocl, own_kernel->pocl, work_dim, global_offset, global_size,
      local_size, num_events, wait_list, event);
  if (status != CL_SUCCESS) return status;
  if (own_kernel->name == "Write") own->write_pending = true;
  LogEvent("launch " + own_kernel->name);
  if (event == nullptr) return CL_SUCCESS;
  const ProfilingClock clock = ConfiguredClock(own->device->index);
  if (clock != ProfilingClock{}) SetClock(*event, clock);
  if (PoclApi().clRetainEvent(*event) == CL_SUCCESS) {
    const std::lock_guard<std::mutex> lock(own->mutex);
    own->timed_launches.emplace_back(own_kernel->name, *event);
  }
  return CL_SUCCESS;
}

}  // namespace

Queue::Queue(cl_command_queue pocl_queue, Context* owner, Device* queue_device)
    : Counted(kKind), pocl(pocl_queue), context(owner), device(queue_device) {
  Retain(context);
}

void Destroy(Queue* queue) {
  for (const auto& launch : TakeTimedLaunches(*queue)) {
    PoclApi().clReleaseEvent(launch.second);
  }
  PoclApi().clReleaseCommandQueue(queue->pocl);
  if (queue->hang_gate != nullptr) PoclApi().clReleaseEvent(queue->hang_gate);
  Release(queue->context);
  delete queue;
}

void InstallQueueApi(cl_icd_dispatch& table) {
  table.clCreateCommandQueue =
      CreateQueue<cl_command_queue_properties,
                  &cl_icd_dispatch::clCreateCommandQueue>;
  table.clCreateCommandQueueWithProperties =
      CreateQueue<const cl_queue_properties*,
                  &cl_icd_dispatch::clCreateCommandQueueWithProperties>;
  table.clRetainCommandQueue = RetainHandle<Queue, CL_INVALID_COMMAND_QUEUE>;
  table.clReleaseCommandQueue = ReleaseHandle<Queue, CL_INVALID_COMMAND_QUEUE>;
  table.clGetCommandQueueInfo = GetCommandQueueInfo;
  table.clFlush = OnPoclQueue<&cl_icd_dispatch::clFlush>::Call;
  table.clFinish = Finish;
  table.clEnqueueReadBuffer =
      OnPoclQueue<&cl_icd_dispatch::clEnqueueReadBuffer>::Call;
  table.clEnqueueWriteBuffer =
      OnPoclQueue<&cl_icd_dispatch::clEnqueueWriteBuffer>::Call;
  table.clEnqueueCopyBuffer =
      OnPoclQueue<&cl_icd_dispatch::clEnqueueCopyBuffer>::Call;
  table.clEnqueueFillBuffer =
      OnPoclQueue<&cl_icd_dispatch::clEnqueueFillBuffer>::Call;
  table.clEnqueueMapBuffer = EnqueueMapBuffer;
  table.clEnqueueUnmapMemObject =
      OnPoclQueue<&cl_icd_dispatch::clEnqueueUnmapMemObject>::Call;
  table.clEnqueueNDRangeKernel = EnqueueNDRangeKernel;
  table.clEnqueueMarker = OnPoclQueue<&cl_icd_dispatch::clEnqueueMarker>::Call;
  table.clEnqueueBarrier =
      OnPoclQueue<&cl_icd_dispatch::clEnqueueBarrier>::Call;
  table.clEnqueueWaitForEvents =
      OnPoclQueue<&cl_icd_dispatch::clEnqueueWaitForEvents>::Call;
  table.clEnqueueMarkerWithWaitList =
      OnPoclQueue<&cl_icd_dispatch::clEnqueueMarkerWithWaitList>::Call;
  table.clEnqueueBarrierWithWaitList =
      OnPoclQueue<&cl_icd_dispatch::clEnqueueBarrierWithWaitList>::Call;
}

}  // namespace simgpu
