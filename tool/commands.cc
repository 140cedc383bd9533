#include "tool/commands.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <optional>

#include "blowfish/blowfish.h"
#include "md5/md5.h"
#include "tool/container.h"
#include "tool/messages.h"
#include "tool/secrets.h"

namespace tarnwick {
namespace {

static_assert(kChunkSize % 8 == 0 && kChunkSize >= 8);

constexpr int kSuccess = 0;
constexpr int kFailure = 1;

int Fail(const char* message) {
  Print(message);
  return kFailure;
}

// A short read means the file changed while it was read; a record laid out
// from its first size would then fail to decrypt, so it counts as an error.
bool ReadExactly(InputFile& input, std::uint8_t* buffer, std::size_t size) {
  const std::optional<std::size_t> got = input.Read(buffer, size);
  return got && *got == size;
}

void KeyCipher(CBlowFish& cipher, const char* password) {
  std::uint8_t key[16] = {};
  LockInMemory(key, sizeof key);
  HashPassword(password, key);
  cipher.Initialize(key, sizeof key);
  SecureWipe(key, sizeof key);
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

int Encode(const char* password, const char* inputPath, const char* outputPath,
           FileSystem& files) {
  const std::unique_ptr<InputFile> input = files.OpenInput(inputPath);
  if (!input) return Fail(kInputOpenFailed);
  const std::optional<std::uint64_t> size = input->Size();
  if (!size || *size > kMaxDataLength) return Fail(kInvalidInputSize);

  CBlowFish cipher;
  const auto dataLength = static_cast<std::uint32_t>(*size);
  const std::uint32_t recordLength = RecordLength(dataLength);
  SecretVector<std::uint8_t> chunk(
      std::min<std::size_t>(kChunkSize, recordLength));
  KeyCipher(cipher, password);

  const std::unique_ptr<OutputFile> output = files.CreateOutput(outputPath);
  if (!output) return Fail(kOutputOpenFailed);
  if (!output->Write(kMarker, kMarkerSize)) return Fail(kOutputWriteFailed);

  std::uint32_t dataLeft = dataLength;
  for (std::uint32_t done = 0; done < recordLength;) {
    const auto length = static_cast<std::uint32_t>(
        std::min<std::size_t>(chunk.size(), recordLength - done));
    std::size_t filled = 0;
    if (done == 0) {
      StoreLength(dataLength, chunk.data());
      filled = kLengthFieldSize;
    }
    const std::size_t data = std::min<std::size_t>(length - filled, dataLeft);
    if (!ReadExactly(*input, chunk.data() + filled, data)) {
      return Fail(kInputReadFailed);
    }
    dataLeft -= static_cast<std::uint32_t>(data);
    filled += data;
    std::memset(chunk.data() + filled, 0, length - filled);
    cipher.Encode(chunk.data(), chunk.data(), length);
    if (!output->Write(chunk.data(), length)) return Fail(kOutputWriteFailed);
    done += length;
  }
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
  SecretVector<std::uint8_t> chunk(
      std::min<std::size_t>(kChunkSize, recordLength));

  // The length field sits in the first block, so a wrong password is caught
  // before the output exists.
  std::uint32_t dataLeft = 0;
  std::uint32_t done = 0;
  std::unique_ptr<OutputFile> output;
  do {
    const auto length = static_cast<std::uint32_t>(
        std::min<std::size_t>(chunk.size(), recordLength - done));
    if (!ReadExactly(*input, chunk.data(), length)) return Fail(kInputReadFailed);
    cipher.Decode(chunk.data(), chunk.data(), length);
    std::size_t skip = 0;
    if (done == 0) {
      dataLeft = LoadLength(chunk.data());
      if (!LengthFits(dataLeft, recordLength)) return Fail(kInvalidDataSize);
      output = files.CreateOutput(outputPath);
      if (!output) return Fail(kOutputOpenFailed);
      skip = kLengthFieldSize;
    }
    const std::size_t data = std::min<std::size_t>(length - skip, dataLeft);
    if (!output->Write(chunk.data() + skip, data)) {
      return Fail(kOutputWriteFailed);
    }
    dataLeft -= static_cast<std::uint32_t>(data);
    done += length;
  } while (done < recordLength);
  if (!input->ConfirmUnchanged()) return Fail(kInputReadFailed);
  return Publish(*output);
}

// The cipher's tables and the chunk buffer come from the heap; running out
// of it is reported like any other failure. An unpublished output is
// discarded as the stack unwinds.
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

int EncodeFile(const char* password, const char* inputPath,
               const char* outputPath, FileSystem& files) {
  return ReportingOutOfMemory(Encode, password, inputPath, outputPath, files);
}

int DecodeFile(const char* password, const char* inputPath,
               const char* outputPath, FileSystem& files) {
  return ReportingOutOfMemory(Decode, password, inputPath, outputPath, files);
}

}  // namespace tarnwick
