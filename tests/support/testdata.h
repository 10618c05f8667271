#pragma once

#include <QByteArray>

#include <cstdint>

// Deterministic test data, the same on every machine and run.
namespace testdata {

// `n` bytes from a fixed-seed generator: incompressible.
QByteArray randomBytes(int n, uint32_t seed = 1);

// `n` bytes of English-like text made of words from a small vocabulary.
QByteArray text(int n, uint32_t seed = 1);

} // namespace testdata
