#ifndef TARNWICK_BLOWFISH_BLOWFISH_H_
#define TARNWICK_BLOWFISH_BLOWFISH_H_

#include <cstdint>
#include <memory>

// Marks the public API: the shared library exports nothing else, and on
// Windows the mark also exports from or imports out of the DLL.
#if !defined(_WIN32)
#define TARNWICK_BLOWFISH_API __attribute__((visibility("default")))
#elif defined(TARNWICK_BLOWFISH_EXPORTS)
#define TARNWICK_BLOWFISH_API __declspec(dllexport)
#elif defined(TARNWICK_BLOWFISH_DLL)
#define TARNWICK_BLOWFISH_API __declspec(dllimport)
#else
#define TARNWICK_BLOWFISH_API
#endif

// Blowfish in electronic-codebook mode over byte buffers.
//
// A block's 8 bytes are two 32-bit halves, each read and written least
// significant byte first (bytes 01 00 00 00 00 00 00 00 are left = 1,
// right = 0) on every host.
//
// Not copyable: an object owns its key schedule. A moved-from object may only
// be destroyed, assigned to or keyed again with Initialize.
class CBlowFish {
 public:
  // Allocates the tables; throws std::bad_alloc when memory runs out.
  TARNWICK_BLOWFISH_API CBlowFish();
  // Wipes the key schedule before releasing it.
  TARNWICK_BLOWFISH_API ~CBlowFish();

  CBlowFish(const CBlowFish&) = delete;
  CBlowFish& operator=(const CBlowFish&) = delete;
  TARNWICK_BLOWFISH_API CBlowFish(CBlowFish&& other) noexcept;
  TARNWICK_BLOWFISH_API CBlowFish& operator=(CBlowFish&& other) noexcept;

  // Runs the key schedule over `keyLength` bytes of `key`, repeating a short
  // key; bytes past the 72nd have no effect. A null key or a length of 0 or
  // less keys the object with the single zero byte. Must precede Encode and
  // Decode; calling it again re-keys the object completely.
  TARNWICK_BLOWFISH_API void Initialize(const std::uint8_t* key,
                                        std::int32_t keyLength);

  // `size` rounded up to a multiple of 8. Sizes above 0xFFFFFFF8 that are not
  // multiples of 8 have no such length in 32 bits and give 0.
  TARNWICK_BLOWFISH_API std::uint32_t GetOutputLength(std::uint32_t size) const;

  // Enciphers `size` bytes from `in` to `out`, padding a final partial block
  // with zero bytes, and returns the bytes written: GetOutputLength(size).
  // `out` holds that many bytes. `in` == `out` works in place, in a buffer of
  // GetOutputLength(size) bytes; other overlaps are not supported. A size
  // above 0xFFFFFFF8 writes nothing and returns 0.
  TARNWICK_BLOWFISH_API std::uint32_t Encode(const std::uint8_t* in,
                                             std::uint8_t* out,
                                             std::uint32_t size) const;

  // Deciphers the whole blocks among `size` bytes from `in` to `out`
  // (in place when `in` == `out`). A size that is not a multiple of 8 leaves
  // its trailing bytes unread and unwritten. No padding is removed.
  TARNWICK_BLOWFISH_API void Decode(const std::uint8_t* in, std::uint8_t* out,
                                    std::uint32_t size) const;

 private:
  // Wipes a table, then releases it.
  struct TableDeleter {
    void operator()(std::uint32_t* table) const;
  };
  using Table = std::unique_ptr<std::uint32_t[], TableDeleter>;

  // One block's halves through the 16 rounds: the subkeys first to last to
  // encipher, last to first to decipher.
  void Blowfish_encipher(std::uint32_t* left, std::uint32_t* right) const;
  void Blowfish_decipher(std::uint32_t* left, std::uint32_t* right) const;

  void Allocate();

  Table PArray;  // 18 subkeys
  Table SBoxes;  // four S-boxes of 256 words
};

#endif  // TARNWICK_BLOWFISH_BLOWFISH_H_
