#ifndef TARNWICK_BLOWFISH_BLOWFISH_TABLES_H_
#define TARNWICK_BLOWFISH_BLOWFISH_TABLES_H_

#include <cstdint>

// The tables every key schedule starts from: the hexadecimal digits of pi
// after the point, the first 18 words as subkeys, the next 1024 as the four
// S-boxes one after another.
extern const std::uint32_t InitialPArray[18];
extern const std::uint32_t InitialSBoxes[1024];

#endif  // TARNWICK_BLOWFISH_BLOWFISH_TABLES_H_
