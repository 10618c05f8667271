#pragma once

// Pixels for the codec benchmark: real pictures from the system's wallpaper
// packages, and noise-like pixels of several kinds, each as RGBA bytes.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace picturecorpus {

using Bytes = std::vector<uint8_t>;

// Where wallpapers are looked for, and the Debian packages that put real
// photographs and artwork there.
extern const char *const kFolders[];
extern const char *const kPackages;

// `n` bytes of RGBA taken from the pictures whose names end in one of
// `suffixes` (".jpg", ".png"), an equal share from each, as 1024-pixel-wide
// crops from the middle of the picture at its own resolution, so that no
// scaling smooths them. Empty when there are none.
Bytes wallpapers(const std::vector<const char *> &suffixes, size_t n);

// Fractal noise (octaves of value noise), blurred, as clouds and terrain.
Bytes fractalNoise(size_t n, uint64_t seed);
// Smooth gradients under gaussian noise, as film grain or a sensor's.
Bytes grainyGradients(size_t n, uint64_t seed);
// `picture` with gaussian noise over it, as noisy artwork.
Bytes withNoise(const Bytes &picture, double sigma, uint64_t seed);

} // namespace picturecorpus
