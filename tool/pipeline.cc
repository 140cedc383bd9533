#include "tool/pipeline.h"

#include <algorithm>
#include <bit>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

#include "tool/messages.h"

namespace tarnwick {
namespace {

// Cache-line aligned chunks: the cipher loads whole lines, and two threads
// never share one.
constexpr std::size_t kAlignment = 64;
static_assert(std::has_single_bit(kAlignment), "std::align takes powers of two");

// Slots beyond one per thread, so reading runs ahead while the writer waits.
constexpr std::size_t kSpareSlots = 2;

std::size_t RoundUp(std::size_t size, std::size_t multiple) {
  return (size + multiple - 1) / multiple * multiple;
}

// A failure in a thread other than the caller's cannot unwind to the
// command, so running out of memory becomes that chunk's message.
template <typename Stage>
const char* ReportingOutOfMemory(Stage stage) {
  try {
    return stage();
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  }
}

}  // namespace

Pipeline::Pipeline(const PipelineShape& shape)
    : shape_(shape),
      slots_(std::min(shape.chunks, std::size_t{shape.threads} + kSpareSlots)) {
  const std::size_t stride = RoundUp(shape.chunk_bytes, kAlignment);
  ring_.resize(stride * slots_.size() + kAlignment);
  void* start = ring_.data();
  std::size_t space = ring_.size();
  auto* bytes = static_cast<std::uint8_t*>(
      std::align(kAlignment, stride * slots_.size(), start, space));
  for (Slot& slot : slots_) {
    slot.chunk.bytes = bytes;
    bytes += stride;
  }
}

const char* Pipeline::Run(ChunkStages& stages) {
  std::vector<std::jthread> helpers = StartHelpers(stages);
  Work(stages);
  for (std::jthread& helper : helpers) helper.join();
  return failure_;
}

std::vector<std::jthread> Pipeline::StartHelpers(ChunkStages& stages) {
  std::vector<std::jthread> helpers;
  try {
    helpers.reserve(shape_.threads - 1);
    for (unsigned i = 1; i < shape_.threads; ++i) {
      helpers.emplace_back([this, &stages] { Work(stages); });
    }
  } catch (const std::system_error&) {
    // Fewer threads only make the run slower.
  } catch (const std::bad_alloc&) {
  }
  return helpers;
}

void Pipeline::Work(ChunkStages& stages) {
  Lock lock(mutex_);
  while (!stopped_ && next_write_ < shape_.chunks) {
    // Writing first frees a slot; transforming before reading keeps a lone
    // thread's chunk in cache from read to write.
    if (Slot* slot = Writable()) {
      WriteNext(stages, *slot, lock);
    } else if (Slot* slot = Transformable()) {
      Transform(stages, *slot, lock);
    } else if (Slot* slot = Readable()) {
      ReadNext(stages, *slot, lock);
    } else {
      changed_.wait(lock);
    }
  }
}

bool Pipeline::Holds(std::size_t index, State state) {
  const Slot& slot = SlotOf(index);
  return slot.state == state && slot.chunk.index == index;
}

Pipeline::Slot* Pipeline::Writable() {
  if (!Holds(next_write_, State::kReady)) return nullptr;
  Slot& slot = SlotOf(next_write_);
  const std::size_t next = next_write_ + 1;
  const bool complete = !shape_.write_needs_next || slot.chunk.failure ||
                        next == shape_.chunks || Holds(next, State::kReady);
  return complete ? &slot : nullptr;
}

// The earliest chunk read, which the writer is likelier to be waiting for.
Pipeline::Slot* Pipeline::Transformable() {
  const auto sooner = [](const Slot& a, const Slot& b) {
    return std::pair(a.state != State::kRead, a.chunk.index) <
           std::pair(b.state != State::kRead, b.chunk.index);
  };
  Slot& slot = *std::min_element(slots_.begin(), slots_.end(), sooner);
  return slot.state == State::kRead ? &slot : nullptr;
}

Pipeline::Slot* Pipeline::Readable() {
  if (reading_ || read_failed_ || next_read_ == shape_.chunks) return nullptr;
  Slot& slot = SlotOf(next_read_);
  return slot.state == State::kFree ? &slot : nullptr;
}

void Pipeline::WriteNext(ChunkStages& stages, Slot& slot, Lock& lock) {
  if (slot.chunk.failure) return Stop(slot.chunk.failure);
  const std::size_t next = next_write_ + 1;
  const Chunk* following = shape_.write_needs_next && next < shape_.chunks
                               ? &SlotOf(next).chunk
                               : nullptr;
  slot.state = State::kWriting;
  lock.unlock();
  const char* failure = ReportingOutOfMemory(
      [&] { return stages.Write(slot.chunk, following); });
  lock.lock();
  if (failure) return Stop(failure);
  slot.state = State::kFree;
  ++next_write_;
  changed_.notify_all();
}

void Pipeline::Transform(const ChunkStages& stages, Slot& slot, Lock& lock) {
  slot.state = State::kTransforming;
  lock.unlock();
  stages.Transform(slot.chunk);
  lock.lock();
  slot.state = State::kReady;
  changed_.notify_all();
}

void Pipeline::ReadNext(ChunkStages& stages, Slot& slot, Lock& lock) {
  reading_ = true;
  slot.state = State::kReading;
  slot.chunk.index = next_read_++;
  lock.unlock();
  const char* failure =
      ReportingOutOfMemory([&] { return stages.Read(slot.chunk); });
  lock.lock();
  reading_ = false;
  slot.chunk.failure = failure;
  // A chunk that failed goes straight to the writer, which reports it once
  // the chunks before it are out.
  read_failed_ = failure != nullptr;
  slot.state = failure ? State::kReady : State::kRead;
  changed_.notify_all();
}

void Pipeline::Stop(const char* failure) {
  failure_ = failure;
  stopped_ = true;
  changed_.notify_all();
}

}  // namespace tarnwick
