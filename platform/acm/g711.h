// G.711 companding of single samples, shared by the A-law and mu-law codecs
// and their tests.
#pragma once
#include <cstdint>

uint8_t linear_to_alaw(int16_t sample);
int16_t alaw_to_linear(uint8_t code);
uint8_t linear_to_mulaw(int16_t sample);
int16_t mulaw_to_linear(uint8_t code);
