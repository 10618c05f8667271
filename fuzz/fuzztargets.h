#pragma once

// The fuzz targets: one function per parser, each taking any bytes. They
// abort on a broken invariant, so a fuzzer counts that as a crash; memory
// faults are the sanitizers' to find. Built into the libFuzzer programs and
// into the test that replays every corpus file in the ordinary build.

#include <cstddef>
#include <cstdint>

// Loads GfxCore, silences the reporting hook and lowers the image size cap to
// 2^22 pixels, so that no input makes a picture of gigabytes.
void fuzzInitialize();

int fuzzRefp(const uint8_t *data, size_t size);
int fuzzBig(const uint8_t *data, size_t size);
int fuzzPng(const uint8_t *data, size_t size);
int fuzzTga(const uint8_t *data, size_t size);
int fuzzTpi(const uint8_t *data, size_t size);
int fuzzSafePath(const uint8_t *data, size_t size);

struct FuzzTarget
{
    const char *name;
    int (*run)(const uint8_t *data, size_t size);
};

extern const FuzzTarget fuzzTargets[6];
