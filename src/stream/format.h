// The stream layout the writer produces and the reader understands, beyond
// what the record functions themselves define: the sections of the tool
// layer, the extension entry types and the name spaces used. FORMAT.md
// describes the layout in full.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dpxut::stream {

inline constexpr uint32_t kPadId = 0x808019;            // pad section (HVDPPadBlankSpace)
inline constexpr uint32_t kDataCheckId = 0x80801C;      // after each record's content
inline constexpr uint32_t kChangeMarkId = 0x80801D;     // after the last record of a file marked as changed
inline constexpr uint32_t kStreamTrailerId = 0x80801E;  // after the last record
inline constexpr uint32_t kChanged = 1;                 // change mark flag: the file changed while read
inline constexpr uint32_t kValueField = 0x8072;         // fixed 4 bytes: record count, or CRC-32 of the content
inline constexpr uint32_t kLengthField = 0x8073;        // fixed 8 bytes: byte count
inline constexpr char kMediaText[] = "sidfpack";        // media header text
inline constexpr char kFormatTag[] = "sidfpk/1";        // session text4; text3 code set, text5 block size

inline constexpr uint32_t kExtStrings = 3;               // owner, group, link target (16-bit lengths)
inline constexpr uint32_t kExtTimes = 0x53500001;        // i64 mtime s, u32 ns, i64 atime s, u32 ns
inline constexpr uint32_t kExtSize = 0x53500002;         // u64 file size
inline constexpr uint32_t kExtPart = 0x53500003;         // u64 offset, u64 length of this record's part
inline constexpr uint32_t kExtTargetUtf8 = 0x53500004;   // the link target in UTF-8
inline constexpr uint32_t kExtHardlink = 0x53500005;     // locale bytes of the earlier name this entry links to
inline constexpr uint32_t kExtDevice = 0x53500006;       // u32 major, u32 minor of a device
inline constexpr uint32_t kExtXattr = 0x53500007;        // u16 name length, name, value: one attribute
inline constexpr uint32_t kExtSparse = 0x53500008;       // u64 offset, u64 length of each data region
inline constexpr uint32_t kExtDirlist = 0x53500009;      // a directory's names, each ended by a NUL, ascending
inline constexpr uint32_t kExtDirlistContent = 0x5350000A;  // u64: that many content bytes are such a list
inline constexpr uint32_t kTimesBytes = 24;
inline constexpr uint32_t kExtHead = 12;                 // type, tag, length before an entry's data
inline constexpr uint32_t kRegionBytes = 16;

inline constexpr uint32_t kNsLocale = 0;
inline constexpr uint32_t kNsUtf8 = 0x100;
inline constexpr uint32_t kNsWide = 0x200;

inline constexpr uint8_t kSignature[2] = {0xA5, 0x5A};  // data of every section's head field
inline constexpr uint32_t kDefaultBlockSize = 512;
inline constexpr uint32_t kMaxBlockSize = 1u << 20;
inline constexpr uint64_t kMaxPart = 0xF0000000;        // a record's length is 32-bit

}  // namespace dpxut::stream
