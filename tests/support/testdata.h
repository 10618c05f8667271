#pragma once

#include <QByteArray>
#include <QImage>

#include <cstdint>

// Deterministic test data, the same on every machine and run.
namespace testdata {

// `n` bytes from a fixed-seed generator: incompressible.
QByteArray randomBytes(int n, uint32_t seed = 1);

// `n` bytes of English-like text made of words from a small vocabulary.
QByteArray text(int n, uint32_t seed = 1);

// The pixels of an ARGB32 image row by row, as BGRA bytes (the layout of
// 0x7D blocks on a little-endian machine).
QByteArray bgra(const QImage &image);

} // namespace testdata
