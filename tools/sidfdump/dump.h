// sidfdump's pieces: how one field is shown (fields.cpp), the section kinds
// it names and decodes (kinds.cpp), the dumper that walks a stream
// (dumper.cpp) and the sample stream it writes (sample.cpp).
#pragma once

#include <dpxut.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace sidfdump {

inline constexpr size_t kChunk = 64 * 1024;  // input window; larger fields are streamed
inline constexpr size_t kMaxHeader = 13;     // 4 identifier + 1 descriptor + 8 size bytes
// Sections decoded as a whole need them inside the window; headers are small.
inline constexpr size_t kDescribeWindow = 8192;

// ---------------------------------------------------------------------------
// One field as shown: where it starts and how its header is laid out.

enum class Form { kShort, kSizeOfSize, kEmbedded, kFixed };

struct FieldView {
  uint64_t offset = 0;  // stream offset of the identifier
  uint32_t id = 0;
  unsigned id_len = 0;
  Form form = Form::kShort;
  unsigned size_bytes = 0;  // size-of-size form: 1, 2, 4 or 8
  uint64_t size = 0;        // declared data size (1 for the embedded form)
  size_t header = 0;        // identifier and descriptor bytes
  const uint8_t* data = nullptr;
  uint64_t present = 0;  // data bytes present in the window
};

void classify(const uint8_t* at, const DPDFField& f, FieldView& v);
std::string id_text(const FieldView& v);
std::string hex_id(uint32_t id);
std::string form_text(const FieldView& v);
std::string data_text(const FieldView& v);

// Section kinds. A member hook may annotate a field and ask for a jump over
// the bytes that follow it; decoders for further sections plug in here.

struct MemberResult {
  std::string note;
  uint64_t jump = 0;
};

// Value of an offset field (its first up to 8 data bytes, little-endian).
bool offset_value(const FieldView& v, uint64_t* distance);

using Lines = std::vector<std::string>;

struct SectionKind {
  uint32_t id;
  const char* name;
  MemberResult (*member)(const FieldView&);
  Lines (*describe)(const uint8_t* head, size_t avail);  // empty: not decodable
};

const SectionKind* find_kind(uint32_t id);

// Prints the stream read from `in` (named `name` in messages): the exit
// status, 0 clean, 1 faults found, 2 read error.
int dump(FILE* in, const char* name);

// The sample stream, empty when it cannot be built.
std::vector<uint8_t> build_sample();

}  // namespace sidfdump
