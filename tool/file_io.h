#ifndef TARNWICK_TOOL_FILE_IO_H_
#define TARNWICK_TOOL_FILE_IO_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

namespace tarnwick {

// The tool's only contact with the file system, one implementation a
// platform: file_io_posix.cc, file_io_win32.cc. The commands see nothing
// of the platform but these.

// An input file, opened for reading with no other opener sharing it.
class InputFile {
 public:
  virtual ~InputFile() = default;

  // The file's size in bytes when it was opened, or nothing when it cannot
  // be obtained.
  virtual std::optional<std::uint64_t> Size() = 0;

  // Fills `buffer` with the next `size` bytes; false on a read error, or
  // where the file ends first: it shrank while it was read, and a record
  // laid out from its first size would fail to decrypt.
  virtual bool Read(std::uint8_t* buffer, std::size_t size) = 0;

  // Called once Size() bytes have been read: false when the file holds more
  // than its size said (as /proc files, which state 0, do), or its data may
  // have changed while it was read. The bytes read are then no faithful copy
  // of any version of the file.
  virtual bool ConfirmUnchanged() = 0;
};

enum class PublishResult {
  kPublished,    // the output now exists under its name, complete
  kNameRefused,  // the name is taken (what holds it is untouched), or the
                 // file system refuses every way of giving it
  kFailed,       // any other failure; nothing exists under the name
};

// An output file under construction. Its bytes appear under the final name
// only through Publish, all at once; until then, and whenever an object is
// destroyed unpublished, nothing exists under the name and nothing stray is
// left behind.
class OutputFile {
 public:
  virtual ~OutputFile() = default;

  // Writes all `size` bytes, or returns false.
  virtual bool Write(const std::uint8_t* data, std::size_t size) = 0;

  // Makes the written bytes appear under the name; never replaces anything
  // that exists there.
  virtual PublishResult Publish() = 0;
};

// Opens an existing regular file (a link to one is followed); nullptr when
// it does not exist, is not a regular file, cannot be read or is in use.
// Anything else (a FIFO, a device) is refused without being opened, as
// opening one can act on it.
std::unique_ptr<InputFile> OpenInput(const char* path);

// Starts an output file to be published as `path`; nullptr when something
// already exists under that name (a dangling link included), the name
// cannot be a file's (empty, or ending in a separator) or the file cannot
// be created.
std::unique_ptr<OutputFile> CreateOutput(const char* path);

}  // namespace tarnwick

#endif  // TARNWICK_TOOL_FILE_IO_H_
