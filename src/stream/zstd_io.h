// Compressed streams: a stream may travel as zstd frames of its bytes, so
// that `zstd -d` gives the stream back unchanged. libzstd is loaded at run
// time, the first time a stream is to be compressed or a compressed one is
// read, so hosts that do neither never depend on it. The writer's side
// wraps its write callback, the reader's side its read callback: above them
// offsets and error texts count the stream's own bytes.
#pragma once

#include <dpxut.h>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace dpxut::stream {

// The first bytes of a zstd frame (its magic number, 0xFD2FB528 little-endian).
inline constexpr uint8_t kZstdMagic[4] = {0x28, 0xB5, 0x2F, 0xFD};

struct Compressor;
struct Decompressor;
struct CompressorFree {
  void operator()(Compressor* c) const noexcept;
};
struct DecompressorFree {
  void operator()(Decompressor* d) const noexcept;
};
using CompressorPtr = std::unique_ptr<Compressor, CompressorFree>;
using DecompressorPtr = std::unique_ptr<Decompressor, DecompressorFree>;

// Writer. compress_output puts a compressor (level 1..19; threads 0: one
// worker a processor, 1: none) between the writer and its write callback,
// or takes it away (level 0); it fails the writer's call with DPXUT_FAILED
// when libzstd cannot be loaded. compress_finish ends the last frame after
// the stream's last byte was flushed.
void compress_output(dpxut_writer& w, int level, int threads);
void compress_finish(dpxut_writer& w);

// Reader. A decompressor reading from read/ctx, given the bytes already
// read (at least the magic number). decompress_read is a dpxut_read_fn over
// it: a damaged or cut compressed stream reads as its end, and
// decompress_failure then says why (null while none, or at a whole end).
DecompressorPtr decompress_input(dpxut_read_fn read, void* ctx, size_t read_size, const uint8_t* head, size_t n);
int64_t decompress_read(void* ctx, void* buf, size_t size);
const char* decompress_failure(const Decompressor& d, uint32_t* code) noexcept;

}  // namespace dpxut::stream
