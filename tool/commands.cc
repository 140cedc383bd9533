#include "tool/commands.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <thread>

#ifdef __linux__
#include <sched.h>
#endif

#include "blowfish/blowfish.h"
#include "md5/md5.h"
#include "tool/container.h"
#include "tool/messages.h"
#include "tool/pipeline.h"
#include "tool/secrets.h"

namespace tarnwick {
namespace {

static_assert(kChunkSize % 8 == 0 && kChunkSize >= 8);

constexpr int kSuccess = 0;
constexpr int kFailure = 1;

// More threads than this gain nothing: the reads and writes bound the run.
constexpr unsigned kMaxThreads = 8;

// Records shorter than this run on one thread: more threads could save at
// most a share of the cipher's few milliseconds, while the pipeline fills
// and drains.
constexpr std::uint64_t kMinPipelinedRecord = std::uint64_t{4} << 20;

std::atomic<unsigned> forced_threads{0};

int Fail(const char* message) {
  Print(message);
  return kFailure;
}

unsigned AvailableCores() {
#ifdef __linux__
  cpu_set_t cores;
  if (sched_getaffinity(0, sizeof cores, &cores) == 0) {
    return static_cast<unsigned>(CPU_COUNT(&cores));
  }
#endif
  return std::max(1u, std::thread::hardware_concurrency());
}

PipelineShape ShapeFor(std::uint32_t recordLength, bool writeNeedsNext) {
  PipelineShape shape;
  shape.chunks = recordLength / kChunkSize + (recordLength % kChunkSize != 0);
  shape.chunk_bytes =
      std::min<std::size_t>(kChunkSize, recordLength) + kLengthFieldSize;
  shape.threads = forced_threads.load();
  if (shape.threads == 0) {
    shape.threads = recordLength < kMinPipelinedRecord
                        ? 1
                        : std::min(kMaxThreads, AvailableCores());
  }
  shape.write_needs_next = writeNeedsNext;
  return shape;
}

std::size_t ChunkLength(const Chunk& chunk, std::uint32_t recordLength) {
  return std::min<std::size_t>(kChunkSize,
                               recordLength - chunk.index * kChunkSize);
}

// A short read means the file changed while it was read; a record laid out
// from its first size would then fail to decrypt, so it counts as an error.
bool ReadExactly(InputFile& input, std::uint8_t* buffer, std::size_t size) {
  const std::optional<std::size_t> got = input.Read(buffer, size);
  return got && *got == size;
}

void KeyCipher(CBlowFish& cipher, const char* password) {
  SecretVector<std::uint8_t> key(16);
  LockInMemory(key.data(), key.size());
  HashPassword(password, key.data());
  cipher.Initialize(key.data(), 16);
}

int Publish(OutputFile& output) {
  switch (output.Publish()) {
    case PublishResult::kPublished:
      return kSuccess;
    case PublishResult::kNameTaken:
      return Fail(kOutputOpenFailed);
    case PublishResult::kFailed:
      break;
  }
  return Fail(kOutputWriteFailed);
}

// Chunk i holds the record's bytes from i * kChunkSize: the length field,
// the data and the zero padding, enciphered in place and written as they
// are.
class EncodeStages final : public ChunkStages {
 public:
  EncodeStages(InputFile& input, OutputFile& output, const CBlowFish& cipher,
               std::uint32_t dataLength)
      : input_(input),
        output_(output),
        cipher_(cipher),
        data_length_(dataLength),
        record_length_(RecordLength(dataLength)) {}

  const char* Read(Chunk& chunk) override {
    const std::size_t length = ChunkLength(chunk, record_length_);
    const std::uint64_t start = std::uint64_t{chunk.index} * kChunkSize;
    if (chunk.index == 0) StoreLength(data_length_, chunk.bytes);
    const std::uint64_t from = std::max<std::uint64_t>(start, kLengthFieldSize);
    const std::uint64_t to = std::min<std::uint64_t>(
        start + length, std::uint64_t{data_length_} + kLengthFieldSize);
    const std::size_t data = to - std::min(from, to);
    const std::size_t filled = from - start + data;
    if (!ReadExactly(input_, chunk.bytes + (from - start), data)) {
      return kInputReadFailed;
    }
    std::memset(chunk.bytes + filled, 0, length - filled);
    return nullptr;
  }

  void Transform(Chunk& chunk) const override {
    const auto length =
        static_cast<std::uint32_t>(ChunkLength(chunk, record_length_));
    cipher_.Encode(chunk.bytes, chunk.bytes, length);
  }

  const char* Write(Chunk& chunk, const Chunk* /*next*/) override {
    const bool written =
        output_.Write(chunk.bytes, ChunkLength(chunk, record_length_));
    return written ? nullptr : kOutputWriteFailed;
  }

 private:
  InputFile& input_;
  OutputFile& output_;
  const CBlowFish& cipher_;
  const std::uint32_t data_length_;
  const std::uint32_t record_length_;
};

// Chunk i holds the record's bytes from i * kChunkSize, as read. It writes
// the data from i * kChunkSize on, so the writes start on aligned offsets;
// the last four of them sit in the next chunk.
class DecodeStages final : public ChunkStages {
 public:
  DecodeStages(InputFile& input, FileSystem& files, const char* outputPath,
               const CBlowFish& cipher, std::uint32_t recordLength)
      : input_(input),
        files_(files),
        output_path_(outputPath),
        cipher_(cipher),
        record_length_(recordLength) {}

  // Where the run succeeded, the output to publish.
  OutputFile& output() { return *output_; }

  const char* Read(Chunk& chunk) override {
    if (!ReadExactly(input_, chunk.bytes, ChunkLength(chunk, record_length_))) {
      return kInputReadFailed;
    }
    return chunk.index == 0 ? CheckLengthAndCreateOutput(chunk) : nullptr;
  }

  void Transform(Chunk& chunk) const override {
    const auto length =
        static_cast<std::uint32_t>(ChunkLength(chunk, record_length_));
    cipher_.Decode(chunk.bytes, chunk.bytes, length);
  }

  const char* Write(Chunk& chunk, const Chunk* next) override {
    const std::uint64_t start = std::uint64_t{chunk.index} * kChunkSize;
    std::size_t data = std::min<std::uint64_t>(
        kChunkSize, data_length_ - std::min<std::uint64_t>(start, data_length_));
    constexpr std::size_t kOwnData = kChunkSize - kLengthFieldSize;
    if (next && next->failure) {
      // One thread would have written no further before that read.
      data = std::min(data, kOwnData);
    } else if (data > kOwnData) {
      std::memcpy(chunk.bytes + kChunkSize, next->bytes, kLengthFieldSize);
    }
    const bool written = output_->Write(chunk.bytes + kLengthFieldSize, data);
    return written ? nullptr : kOutputWriteFailed;
  }

 private:
  // The length field sits in the first block, so a wrong password is caught
  // before the output exists.
  const char* CheckLengthAndCreateOutput(const Chunk& first) {
    std::uint8_t block[8];
    cipher_.Decode(first.bytes, block, sizeof block);
    data_length_ = LoadLength(block);
    if (!LengthFits(data_length_, record_length_)) return kInvalidDataSize;
    output_ = files_.CreateOutput(output_path_);
    return output_ ? nullptr : kOutputOpenFailed;
  }

  InputFile& input_;
  FileSystem& files_;
  const char* const output_path_;
  const CBlowFish& cipher_;
  const std::uint32_t record_length_;
  std::uint32_t data_length_ = 0;
  std::unique_ptr<OutputFile> output_;
};

int Encode(const char* password, const char* inputPath, const char* outputPath,
           FileSystem& files) {
  const std::unique_ptr<InputFile> input = files.OpenInput(inputPath);
  if (!input) return Fail(kInputOpenFailed);
  const std::optional<std::uint64_t> size = input->Size();
  if (!size || *size > kMaxDataLength) return Fail(kInvalidInputSize);

  CBlowFish cipher;
  const auto dataLength = static_cast<std::uint32_t>(*size);
  Pipeline pipeline(ShapeFor(RecordLength(dataLength), false));
  KeyCipher(cipher, password);

  const std::unique_ptr<OutputFile> output = files.CreateOutput(outputPath);
  if (!output) return Fail(kOutputOpenFailed);
  if (!output->Write(kMarker, kMarkerSize)) return Fail(kOutputWriteFailed);
  EncodeStages stages(*input, *output, cipher, dataLength);
  if (const char* failure = pipeline.Run(stages)) return Fail(failure);
  if (!input->ConfirmUnchanged()) return Fail(kInputReadFailed);
  return Publish(*output);
}

int Decode(const char* password, const char* inputPath, const char* outputPath,
           FileSystem& files) {
  const std::unique_ptr<InputFile> input = files.OpenInput(inputPath);
  if (!input) return Fail(kInputOpenFailed);
  const std::optional<std::uint64_t> size = input->Size();
  if (!size || *size > kMaxEncryptedFileSize) return Fail(kInvalidInputSize);

  std::uint8_t marker[kMarkerSize] = {};
  if (*size < kMarkerSize) return Fail(kInvalidMarker);
  if (!ReadExactly(*input, marker, kMarkerSize)) return Fail(kInputReadFailed);
  if (std::memcmp(marker, kMarker, kMarkerSize) != 0) {
    return Fail(kInvalidMarker);
  }
  const auto recordLength = static_cast<std::uint32_t>(*size - kMarkerSize);
  if (recordLength % 8 != 0) return Fail(kInvalidFileSize);

  CBlowFish cipher;
  KeyCipher(cipher, password);
  if (recordLength == 0) return Fail(kInvalidDataSize);  // no length field
  Pipeline pipeline(ShapeFor(recordLength, true));
  DecodeStages stages(*input, files, outputPath, cipher, recordLength);
  if (const char* failure = pipeline.Run(stages)) return Fail(failure);
  if (!input->ConfirmUnchanged()) return Fail(kInputReadFailed);
  return Publish(stages.output());
}

// The cipher's tables and the ring come from the heap; running out of it is
// reported like any other failure. An unpublished output is discarded as the
// stack unwinds.
template <typename Command>
int ReportingOutOfMemory(Command command, const char* password,
                         const char* inputPath, const char* outputPath,
                         FileSystem& files) {
  try {
    return command(password, inputPath, outputPath, files);
  } catch (const std::bad_alloc&) {
    return Fail(kOutOfMemory);
  }
}

}  // namespace

void ForceThreadsForTesting(unsigned threads) { forced_threads = threads; }

int EncodeFile(const char* password, const char* inputPath,
               const char* outputPath, FileSystem& files) {
  return ReportingOutOfMemory(Encode, password, inputPath, outputPath, files);
}

int DecodeFile(const char* password, const char* inputPath,
               const char* outputPath, FileSystem& files) {
  return ReportingOutOfMemory(Decode, password, inputPath, outputPath, files);
}

}  // namespace tarnwick
