#include "tool/pipeline.h"

#include <algorithm>
#include <system_error>
#include <thread>
#include <utility>

namespace tarnwick {
namespace {

// Slots beyond one per thread, so reading runs ahead while the writer waits.
constexpr std::size_t kSpareSlots = 2;

}  // namespace

Pipeline::Pipeline(const PipelineShape& shape, HelperFrame frame)
    : shape_(shape),
      frame_(frame),
      slots_(std::min(shape.chunks, std::size_t{shape.threads} + kSpareSlots)) {
  for (Slot& slot : slots_) {
    slot.bytes.resize(shape.chunk_bytes);
    slot.chunk.bytes = slot.bytes.data();
  }
}

// Only the writer stops the pipeline, and no chunk is being written once
// this thread leaves Work, so the failure is final by then. Work returns
// on every path, so the helpers always come back to be joined.
const char* Pipeline::Run(ChunkStages& stages) {
  std::vector<std::thread> helpers = StartHelpers(stages);
  Work(stages);
  for (std::thread& helper : helpers) helper.join();
  return failure_;
}

std::vector<std::thread> Pipeline::StartHelpers(ChunkStages& stages) {
  std::vector<std::thread> helpers;
  try {
    for (unsigned i = 1; i < shape_.threads; ++i) {
      helpers.emplace_back(
          [this, &stages] { frame_([this, &stages] { Work(stages); }); });
    }
  } catch (const std::system_error&) {
    // Fewer threads only make the run slower.
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
      continue;
    }
    changed_.notify_all();
  }
}

Pipeline::Slot* Pipeline::Writable() {
  Slot& slot = SlotOf(next_write_);
  const bool ready =
      slot.state == State::kReady && slot.chunk.index == next_write_;
  return ready ? &slot : nullptr;
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
  slot.state = State::kWriting;
  lock.unlock();
  const char* failure = stages.Write(slot.chunk);
  lock.lock();
  if (failure) return Stop(failure);
  slot.state = State::kFree;
  ++next_write_;
}

void Pipeline::Transform(const ChunkStages& stages, Slot& slot, Lock& lock) {
  slot.state = State::kTransforming;
  lock.unlock();
  stages.Transform(slot.chunk);
  lock.lock();
  slot.state = State::kReady;
}

void Pipeline::ReadNext(ChunkStages& stages, Slot& slot, Lock& lock) {
  reading_ = true;
  slot.state = State::kReading;
  slot.chunk.index = next_read_++;
  lock.unlock();
  const char* failure = stages.Read(slot.chunk);
  lock.lock();
  reading_ = false;
  slot.chunk.failure = failure;
  // A chunk that failed goes straight to the writer, which reports it once
  // the chunks before it are out.
  read_failed_ = failure != nullptr;
  slot.state = failure ? State::kReady : State::kRead;
}

void Pipeline::Stop(const char* failure) {
  failure_ = failure;
  stopped_ = true;
}

}  // namespace tarnwick
