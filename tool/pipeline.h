#ifndef TARNWICK_TOOL_PIPELINE_H_
#define TARNWICK_TOOL_PIPELINE_H_

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "tool/secrets.h"

namespace tarnwick {

// A stretch of the record on its way from the input to the output.
struct Chunk {
  std::size_t index = 0;
  std::uint8_t* bytes =
      nullptr;  // cache-line aligned, so no two threads share a line
  const char* failure = nullptr;  // the message when reading it failed
};

// What a command does to each chunk. Read and Write see the chunks one at a
// time and in order, as a single thread would; Transform may run on several
// chunks at once.
class ChunkStages {
 public:
  virtual ~ChunkStages() = default;

  // Fills `chunk`; returns the message to print on failure, or nullptr.
  virtual const char* Read(Chunk& chunk) = 0;

  virtual void Transform(Chunk& chunk) const = 0;

  // Writes the output of `chunk`, once transformed; returns the message to
  // print on failure, or nullptr.
  virtual const char* Write(Chunk& chunk) = 0;
};

// Runs `work` on a helper thread that the pipeline started, inside what the
// process gives each of its threads (a signal stack, say).
using HelperFrame = void (*)(const std::function<void()>& work);

struct PipelineShape {
  std::size_t chunks = 1;
  std::size_t chunk_bytes = 0;  // room each chunk needs
  unsigned threads = 1;
};

// Reads, transforms and writes chunks on up to `threads` threads through a
// small ring of buffers, so memory stays flat for any file size. Every
// thread, the caller's included, takes whichever stage has work, so a
// single thread runs the chunks one after the other and a thread that could
// not be started costs speed, never the run. A failure stops the run with
// the message of the earliest chunk in order that failed, which is what a
// single thread working chunk by chunk would have met first.
class Pipeline {
 public:
  // Allocates the ring.
  Pipeline(const PipelineShape& shape, HelperFrame frame);
  Pipeline(const Pipeline&) = delete;
  Pipeline& operator=(const Pipeline&) = delete;

  // Returns the failure's message, or nullptr once every chunk is written.
  const char* Run(ChunkStages& stages);

 private:
  enum class State { kFree, kReading, kRead, kTransforming, kReady, kWriting };
  struct Slot {
    SecretVector<std::uint8_t> bytes;  // it holds plaintext
    Chunk chunk;
    State state = State::kFree;
  };
  using Lock = std::unique_lock<std::mutex>;

  std::vector<std::thread> StartHelpers(ChunkStages& stages);
  void Work(ChunkStages& stages);
  Slot& SlotOf(std::size_t index) { return slots_[index % slots_.size()]; }
  Slot* Writable();
  Slot* Transformable();
  Slot* Readable();
  void WriteNext(ChunkStages& stages, Slot& slot, Lock& lock);
  void Transform(const ChunkStages& stages, Slot& slot, Lock& lock);
  void ReadNext(ChunkStages& stages, Slot& slot, Lock& lock);
  void Stop(const char* failure);

  const PipelineShape shape_;
  const HelperFrame frame_;
  std::vector<Slot> slots_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t next_read_ = 0;
  std::size_t next_write_ = 0;
  bool reading_ = false;
  bool read_failed_ = false;
  bool stopped_ = false;
  const char* failure_ = nullptr;
};

}  // namespace tarnwick

#endif  // TARNWICK_TOOL_PIPELINE_H_
