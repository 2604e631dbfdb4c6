// Binary files of the hashed cache: graphics-engine streams opened on a data
// name, read and written in little-endian words, and the padded string
// layout shared by every cache format and the compiled configuration:
//   u32 L, then floor((L + 1) / 4) + 1 words: L characters, a NUL, zeros.
// Every read checks the byte count it got; every write reports a short write.
#pragma once

#include <cstddef>
#include <cstdint>

struct Stream;

// Bytes of the padded field of a string of L characters (length word not
// included): 4 for L = 0..2, 8 for 3..6, 12 for 7..10, ...
inline uint64_t BinFile_PaddedSize(uint64_t length) {
  return ((length + 1) / 4) * 4 + 4;
}
// Fills out[0 .. BinFile_PaddedSize(L)) with the first L characters of text,
// a NUL and zero bytes.
void BinFile_PadString(uint8_t* out, const char* text, uint32_t length);

// A stream on the data name, "r" (read), "w" (write) or "a" (append) by the
// mode's first character; null for other modes or when it can't be opened.
// Names starting "Data\" are disk paths used as they are; the others are
// resolved under the data folder. The caller closes it with BinFile_Close.
Stream* BinFile_Open(const char* name, const char* mode);
// Closes the stream; 1 on success.
int BinFile_Close(Stream* stream);

// Readers: 1 when every byte arrived, else 0 (the destination may then hold
// part of the data).
int BinFile_ReadInt32(Stream* stream, void* destination);
int BinFile_ReadInt32s(Stream* stream, void* destination, uint32_t count);
int BinFile_ReadInt16s(Stream* stream, void* destination, uint32_t count);
int BinFile_ReadVec3s(Stream* stream, void* destination, uint32_t count);
int BinFile_ReadMatrix(Stream* stream, void* destination);
// Reads a padded string of L characters (its length word already read) into
// destination, which must hold L + 1 bytes: the characters and a NUL are
// written, never more.
int BinFile_ReadString(Stream* stream, char* destination, uint32_t length);

// Writers: 1 when every byte was written, 0 at the first failed write
// (nothing further is written then).
int BinFile_WriteInt32s(Stream* stream, const void* source, uint32_t count);
int BinFile_WriteInt16s(Stream* stream, const void* source, uint32_t count);
int BinFile_WriteFloats(Stream* stream, const float* source, uint32_t count);
int BinFile_WriteVec3s(Stream* stream, const float* source, uint32_t count);
int BinFile_WriteMatrix(Stream* stream, const float* matrix);
// Writes L as a u32 and the padded string (text must hold L characters).
int BinFile_WriteString(Stream* stream, const char* text, uint32_t length);
