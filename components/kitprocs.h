// Free routines the library leans on: directory prefixes, rectangles and
// arrays, and the block compressor with its sections.
//
// Compressed block: a method byte, 64 = compressed or 128 = stored (the source
// bytes follow unchanged). A compressed block carries groups of up to 16 items,
// each group led by a big-endian control word whose bits, from the top, tell a
// literal byte (0) from a copy or run (1). A copy is the big-endian word
// (distance << 4) + (length - 3), distance 1..4095, length 3..18; a run is
// 0x00, the big-endian word run - 16 (run 16..4095) and the byte repeated.
//
// Compressed section, integers 32-bit little-endian: the byte total that
// follows (the sum of 4 + block length), then per block its length and the
// block, each block made of at most 32781 source bytes.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "framework/Classes.h"
#include "framework/SysUtils.h"
#include "framework/Controls.h"

namespace vexa {

VEXA_DECLARE_EXCEPTION(EInvalidPointer, fw::Exception);

enum TKitPathPrefix { ppWindows = 0, ppSystem = 1, ppProgram = 2, ppFixed = 3 };

// Directory of the program's own file, with a trailing separator.
std::string ProgramDirectory();
std::string SystemDirectoryPath();
std::string WindowsDirectoryPath();
// The directory the prefix names ("" for ppFixed, returned as is), with a
// trailing separator ensured (WithBackslash) or removed.
std::string PrefixDirectory(TKitPathPrefix Prefix, bool WithBackslash);

// Source scaled to fit Target keeping its proportions, placed at Target's
// top-left corner. An empty source gives an empty rectangle there.
void FitRectProportional(const fw::TRect& Source, const fw::TRect& Target, fw::TRect& Result);
void RectExtent(const fw::TRect& Rect, int32_t& Width, int32_t& Height);
// Bounding box of Rect turned by Degrees about its centre, moved to the origin;
// 0 degrees leaves Rect unchanged.
void RotatedRectBounds(fw::TRect& Rect, int32_t Degrees);
// Largest / smallest value (0 / 0.0 for no values).
int32_t MaxOfInts(std::span<const int32_t> Values);
int32_t MinOfInts(std::span<const int32_t> Values);
long double MinOfExtended(std::span<const long double> Values);

constexpr uint32_t KitBlockSourceSize = 32781;   // source bytes of one block at most
constexpr uint32_t KitBlockMaxLength = 32782;    // a stored block of 32781 bytes
constexpr uint32_t KitHashTableEntries = 4096;

// The hash lookup of the compressor: the entry for the three bytes at Position
// becomes Position; true when the previous entry gives a usable match of at
// least 3 bytes (distance at most 4095, never from a position of 32768 or more).
bool FindBlockMatch(const uint8_t* Source, uint32_t Position, uint32_t Count,
                    uint32_t& MatchPosition, uint32_t& MatchLength, uint16_t* HashTable);
// Compresses Count bytes (at most 32781, else EInvalidOperation) into Dest
// (which holds Count + 6 bytes); returns the block length. Raises EInvalidPointer
// "LZRW Error!" when the hash table cannot be had.
uint16_t CompressBlock(const uint8_t* Source, uint8_t* Dest, uint16_t Count);
// Expands a block of Length bytes into Dest (DestSize bytes); returns the bytes
// produced. Damaged blocks raise EReadError "Compressed data is damaged" and
// never write outside Dest.
uint16_t DecompressBlock(const uint8_t* Source, uint8_t* Dest, uint16_t Length,
                         uint32_t DestSize = KitBlockSourceSize);

// Appends a compressed section of Count bytes read from Source's position.
void WriteCompressedSection(fw::TMemoryStream* Source, fw::TStream* Dest, int32_t Count);
// Reads one compressed section and appends the expanded bytes to Dest. Every
// total and block length is checked; damaged data raises EReadError.
void ReadCompressedSection(fw::TStream* Source, fw::TMemoryStream* Dest);

}  // namespace vexa
