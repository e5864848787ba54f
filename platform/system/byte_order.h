// Little-endian loads and stores of 16- and 32-bit values at any address:
// the byte order of WAV files and of the sound card's samples.
#pragma once
#include <cstdint>

inline uint16_t load_le16(const uint8_t* p)
{
    return uint16_t(p[0] | (p[1] << 8));
}
inline int16_t load_le16_signed(const uint8_t* p)
{
    return int16_t(load_le16(p));
}
inline uint32_t load_le32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline void store_le16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void store_le32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}
