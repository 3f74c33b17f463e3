// Texts for completion codes and stream causes, and the version of the
// library actually loaded.
#include <dpxut.h>

#include <cstdio>

#include "common/export.h"

namespace {

const char* known_text(uint32_t code) noexcept {
  switch (code) {
    case HVDPUT_SUCCESS: return "success";
    case HVDPUT_INVALID_HANDLE: return "invalid handle";
    case HVDPUT_INVALID_PARAMETER: return "invalid parameter";
    case HVDPUT_NO_MORE_ENTRIES: return "no more entries";
    case HVDPUT_OUT_OF_MEMORY: return "out of memory";
    case HVDPUT_OVERFLOW: return "value or output does not fit";
    case HVDPUT_FIELD_ID_MISMATCH: return "section head not as expected";
    case HVDPUT_BEYOND_END: return "position past the end of its area";
    case HVDPUT_BUFFER_UNDERFLOW: return "buffer ends inside a field";
    case DPXUT_E_IO: return "input/output error";
    case DPXUT_E_TRUNCATED: return "stream ends inside a section";
    case DPXUT_E_CHECK: return "section check value mismatch";
    case DPXUT_E_DATA_CHECK: return "content check value mismatch";
    case DPXUT_E_DAMAGED: return "malformed section or field";
    case DPXUT_E_FORMAT: return "not a stream of a known form";
    case DPXUT_E_STATE: return "call out of order";
    case DPXUT_E_SIZE: return "content longer or shorter than its size";
    case DPXUT_E_PART: return "parts of a split file disagree";
    case DPXUT_E_NAME: return "name cannot be stored or converted";
    default: return nullptr;
  }
}

}  // namespace

DPXUT_EXPORT const char* dpxut_strerror(uint32_t code) {
  if (const char* t = known_text(code)) return t;
  thread_local char unknown[32];
  std::snprintf(unknown, sizeof unknown, "unknown error 0x%08X", static_cast<unsigned>(code));
  return unknown;
}

DPXUT_EXPORT const char* dpxut_version(void) { return DPXUT_VERSION_STRING; }

DPXUT_EXPORT int dpxut_version_number(void) { return DPXUT_VERSION_NUMBER; }
