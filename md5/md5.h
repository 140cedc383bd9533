#ifndef TARNWICK_MD5_MD5_H_
#define TARNWICK_MD5_MD5_H_

#include <cstdint>

// Marks the public API: the shared library exports nothing else, and on
// Windows the mark also exports from or imports out of the DLL.
#if !defined(_WIN32)
#define TARNWICK_MD5_API __attribute__((visibility("default")))
#elif defined(TARNWICK_MD5_EXPORTS)
#define TARNWICK_MD5_API __declspec(dllexport)
#elif defined(TARNWICK_MD5_DLL)
#define TARNWICK_MD5_API __declspec(dllimport)
#else
#define TARNWICK_MD5_API
#endif

// MD5 message digest as RFC 1321 defines it, under its reference interface.
struct MD5_CTX {
  std::uint32_t state[4];   // chaining values A, B, C, D
  std::uint32_t count[2];   // message length in bits mod 2^64, low word first
  std::uint8_t buffer[64];  // absorbed bytes not yet transformed
};

TARNWICK_MD5_API void MD5Init(MD5_CTX* context);
TARNWICK_MD5_API void MD5Update(MD5_CTX* context, const std::uint8_t* input,
                                std::uint32_t inputLen);
// Writes the 16-byte digest, then clears the whole context.
TARNWICK_MD5_API void MD5Final(std::uint8_t digest[16], MD5_CTX* context);

// The cipher key of a password: the MD5 digest of its bytes up to, not
// including, the terminating NUL.
TARNWICK_MD5_API void HashPassword(const char* password, std::uint8_t key[16]);

#endif  // TARNWICK_MD5_MD5_H_
