// An entry from a record's description: names in their three forms,
// attributes, times, link targets and the raw extension entries.
#pragma once

#include <dpxut.h>

#include <cstdint>

#include "stream/entry.h"

namespace dpxut::stream {

// What a record says beyond the entry: whether it holds one part of a
// split file, and how many content bytes follow its header.
struct RecordFacts {
  bool part = false;
  uint64_t part_offset = 0, part_length = 0;
  uint64_t content = 0;
  bool list_content = false;  // a directory's content is its list of names
};

// Fills e (cleared first) and facts from a record description that the
// parser has completed. same_codeset: the stream's locale names are in the
// host's code set. Returns null, or a short English reason and in *code
// its DPXUT_E_* cause. Throws std::bad_alloc.
const char* describe_record(const HVDPRecordHeaderInfo& info, bool same_codeset, dpxut_entry& e,
                            RecordFacts& facts, uint32_t* code);

// True when a later part carries the same name and metadata as the first.
bool same_description(const dpxut_entry& a, const dpxut_entry& b) noexcept;

}  // namespace dpxut::stream
