#pragma once

#include <cstdint>
#include <string>

// A small picture in PNG form, different for every seed: the demo market's item photos.
std::string DemoPicturePng(std::uint64_t seed, int size = 96);
