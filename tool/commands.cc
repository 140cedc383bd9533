// The two commands: each opens its input, keys the cipher, starts the
// output, and runs the record through the pipeline chunk by chunk, in
// stages that know the record's layout; the output gets its name only once
// the input proved unchanged.
#include "tool/commands.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>

#include "blowfish/blowfish.h"
#include "md5/md5.h"
#include "tool/container.h"
#include "tool/file_io.h"
#include "tool/messages.h"
#include "tool/pipeline.h"
#include "tool/process.h"
#include "tool/secrets.h"

namespace tarnwick {
namespace {

static_assert(kChunkSize % kBlockSize == 0 && kChunkSize >= kBlockSize);

constexpr int kSuccess = 0;
constexpr int kFailure = 1;

// More threads than this gain nothing: the reads and writes bound the run.
constexpr unsigned kMaxThreads = 8;

// Records shorter than this run on one thread: more threads could save at
// most a share of the cipher's few milliseconds, while the pipeline fills
// and drains.
constexpr std::uint64_t kMinPipelinedRecord = std::uint64_t{4} << 20;

int Fail(const char* message) {
  Print(message);
  return kFailure;
}

std::size_t ChunksOf(std::uint32_t bytes) {
  return bytes / kChunkSize + (bytes % kChunkSize != 0);
}

// How many of `total` bytes, laid out chunk after chunk, fall in chunk
// `index`.
std::size_t ChunkShare(std::size_t index, std::uint64_t total) {
  const std::uint64_t start = std::uint64_t{index} * kChunkSize;
  return std::min<std::uint64_t>(kChunkSize, total - std::min(start, total));
}

// `chunks` chunks of a record, each with room for its share and
// `extraBytes`; on `threads` threads, or as many as the record calls for.
PipelineShape ShapeFor(std::uint32_t recordLength, std::size_t chunks,
                       std::size_t extraBytes, unsigned threads) {
  if (threads == 0) {
    threads = recordLength < kMinPipelinedRecord
                  ? 1
                  : std::min(kMaxThreads, AvailableCores());
  }
  return {chunks, ChunkShare(0, recordLength) + extraBytes, threads};
}

struct SizedInput {
  std::unique_ptr<InputFile> file;
  std::uint64_t size = 0;
  const char* failure = nullptr;  // the message that refuses it
};

SizedInput OpenSized(const char* path, std::uint64_t maxSize) {
  SizedInput input{OpenInput(path)};
  if (!input.file) {
    input.failure = kInputOpenFailed;
    return input;
  }
  const std::optional<std::uint64_t> size = input.file->Size();
  if (!size || *size > maxSize) input.failure = kInvalidInputSize;
  input.size = size.value_or(0);
  return input;
}

void KeyCipher(CBlowFish& cipher, const char* password) {
  SecretVector<std::uint8_t> key(16);
  LockInMemory(key.data(), key.size());
  HashPassword(password, key.data());
  cipher.Initialize(key.data(), 16);
}

// Runs the chunks through the pipeline, then gives the output its name once
// the input proved unchanged.
int RunAndPublish(ChunkStages& stages, const PipelineShape& shape,
                  InputFile& input, OutputFile& output) {
  Pipeline pipeline(shape, [](const std::function<void()>& work) {
    const SignalStack stack;
    work();
  });
  if (const char* failure = pipeline.Run(stages)) return Fail(failure);
  if (!input.ConfirmUnchanged()) return Fail(kInputReadFailed);
  switch (output.Publish()) {
    case PublishResult::kPublished:
      return kSuccess;
    case PublishResult::kNameRefused:
      return Fail(kOutputOpenFailed);
    case PublishResult::kFailed:
      break;
  }
  return Fail(kOutputWriteFailed);
}

// Chunk i holds the record's bytes from i * kChunkSize: the length field,
// the data and the zero padding, enciphered in place and written as they
// are. The pipeline reads the chunks in order, so the data still to read
// is all that a read needs to know.
class EncodeStages final : public ChunkStages {
 public:
  EncodeStages(InputFile& input, OutputFile& output, const CBlowFish& cipher,
               std::uint32_t dataLength)
      : input_(input),
        output_(output),
        cipher_(cipher),
        data_length_(dataLength),
        data_left_(dataLength),
        record_length_(RecordLength(dataLength)) {}

  const char* Read(Chunk& chunk) override {
    const std::size_t length = ChunkShare(chunk.index, record_length_);
    std::size_t filled = 0;
    if (chunk.index == 0) {
      StoreLittleEndian(data_length_, chunk.bytes);
      filled = kLengthFieldSize;
    }
    const std::size_t data = std::min<std::size_t>(length - filled, data_left_);
    if (!input_.Read(chunk.bytes + filled, data)) return kInputReadFailed;
    data_left_ -= data;
    std::memset(chunk.bytes + filled + data, 0, length - filled - data);
    return nullptr;
  }

  void Transform(Chunk& chunk) const override {
    const auto length = ChunkShare(chunk.index, record_length_);
    cipher_.Encode(chunk.bytes, chunk.bytes,
                   static_cast<std::uint32_t>(length));
  }

  const char* Write(Chunk& chunk) override {
    const bool written =
        output_.Write(chunk.bytes, ChunkShare(chunk.index, record_length_));
    return written ? nullptr : kOutputWriteFailed;
  }

 private:
  InputFile& input_;
  OutputFile& output_;
  const CBlowFish& cipher_;
  const std::uint32_t data_length_;
  std::uint32_t data_left_;
  const std::uint32_t record_length_;
};

// Chunk i holds the record's bytes from i * kChunkSize: the block carried
// over from the end of the read before (for chunk 0, the first block, read
// for its length field), then the chunk's own share of the rest. Its data
// starts 4 bytes in and belongs at output offset i * kChunkSize, so every
// write starts on a multiple of kChunkSize. With K = kChunkSize: chunk 0
// holds record bytes 0 to K + 7 and writes bytes 4 to K + 3 (data bytes 0
// to K - 1) at offset 0; its last block, record bytes K to K + 7, is read
// once but deciphered twice, as it also starts chunk 1, which holds record
// bytes K to 2K + 7 and writes bytes K + 4 to 2K + 3 at offset K.
class DecodeStages final : public ChunkStages {
 public:
  DecodeStages(InputFile& input, OutputFile& output, const CBlowFish& cipher,
               std::uint32_t recordLength, std::uint32_t dataLength,
               const std::uint8_t (&firstBlock)[kBlockSize])
      : input_(input),
        output_(output),
        cipher_(cipher),
        after_first_(recordLength - kBlockSize),
        data_length_(dataLength) {
    std::memcpy(carried_, firstBlock, kBlockSize);
  }

  const char* Read(Chunk& chunk) override {
    const std::size_t length = ChunkShare(chunk.index, after_first_);
    std::memcpy(chunk.bytes, carried_, kBlockSize);
    if (!input_.Read(chunk.bytes + kBlockSize, length)) {
      return kInputReadFailed;
    }
    std::memcpy(carried_, chunk.bytes + length, kBlockSize);
    return nullptr;
  }

  void Transform(Chunk& chunk) const override {
    const std::size_t length = ChunkShare(chunk.index, after_first_);
    cipher_.Decode(chunk.bytes, chunk.bytes,
                   static_cast<std::uint32_t>(kBlockSize + length));
  }

  const char* Write(Chunk& chunk) override {
    const bool written = output_.Write(chunk.bytes + kLengthFieldSize,
                                       ChunkShare(chunk.index, data_length_));
    return written ? nullptr : kOutputWriteFailed;
  }

 private:
  InputFile& input_;
  OutputFile& output_;
  const CBlowFish& cipher_;
  const std::uint32_t after_first_;  // record bytes after the first block
  const std::uint32_t data_length_;
  std::uint8_t carried_[kBlockSize];  // ciphertext, as read
};

// The length field of a record whose first block is `block`. The rest of
// the deciphered block is data, so it is wiped.
std::uint32_t LengthField(const CBlowFish& cipher,
                          const std::uint8_t (&block)[kBlockSize]) {
  std::uint8_t plain[kBlockSize];
  cipher.Decode(block, plain, kBlockSize);
  const std::uint32_t length = LoadLittleEndian(plain);
  SecureWipe(plain, sizeof plain);
  return length;
}

}  // namespace

int EncodeFile(const char* password, const char* inputPath,
               const char* outputPath, unsigned threads) {
  const SizedInput input = OpenSized(inputPath, kMaxDataLength);
  if (input.failure) return Fail(input.failure);
  const auto dataLength = static_cast<std::uint32_t>(input.size);
  const std::uint32_t recordLength = RecordLength(dataLength);

  CBlowFish cipher;
  KeyCipher(cipher, password);
  const std::unique_ptr<OutputFile> output = CreateOutput(outputPath);
  if (!output) return Fail(kOutputOpenFailed);
  if (!output->Write(kMarker, kMarkerSize)) return Fail(kOutputWriteFailed);
  EncodeStages stages(*input.file, *output, cipher, dataLength);
  return RunAndPublish(
      stages, ShapeFor(recordLength, ChunksOf(recordLength), 0, threads),
      *input.file, *output);
}

int DecodeFile(const char* password, const char* inputPath,
               const char* outputPath, unsigned threads) {
  const SizedInput input = OpenSized(inputPath, kMaxEncryptedFileSize);
  if (input.failure) return Fail(input.failure);
  std::uint8_t marker[kMarkerSize] = {};
  if (input.size < kMarkerSize) return Fail(kInvalidMarker);
  if (!input.file->Read(marker, kMarkerSize)) {
    return Fail(kInputReadFailed);
  }
  if (std::memcmp(marker, kMarker, kMarkerSize) != 0) {
    return Fail(kInvalidMarker);
  }
  const auto recordLength =
      static_cast<std::uint32_t>(input.size - kMarkerSize);
  if (recordLength % kBlockSize != 0) return Fail(kInvalidFileSize);

  CBlowFish cipher;
  KeyCipher(cipher, password);
  // The length field sits in the first block, so a wrong password is caught
  // before the output exists or any thread starts.
  if (recordLength == 0) return Fail(kInvalidDataSize);
  std::uint8_t first[kBlockSize];
  if (!input.file->Read(first, kBlockSize)) {
    return Fail(kInputReadFailed);
  }
  const std::uint32_t dataLength = LengthField(cipher, first);
  if (!LengthFits(dataLength, recordLength)) return Fail(kInvalidDataSize);
  const std::unique_ptr<OutputFile> output = CreateOutput(outputPath);
  if (!output) return Fail(kOutputOpenFailed);
  DecodeStages stages(*input.file, *output, cipher, recordLength, dataLength,
                      first);
  return RunAndPublish(
      stages, ShapeFor(recordLength, ChunksOf(dataLength), kBlockSize, threads),
      *input.file, *output);
}

}  // namespace tarnwick
