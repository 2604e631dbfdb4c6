#include "app/binfile.h"

#include <cstring>

#include "app/file.h"
#include "common/bytes.h"
#include "common/strings.h"
#include "gfx/core/stream.h"

namespace {

constexpr size_t BINFILE_CHUNK = 256;

int BinFile_ReadBytes(Stream* stream, void* buffer, size_t n) {
  if (!stream) return 0;
  uint8_t* out = (uint8_t*)buffer;
  // Stream_Read takes a 32-bit length; larger requests go in pieces.
  while (n > 0) {
    uint32_t piece = n > 0x40000000u ? 0x40000000u : (uint32_t)n;
    if (Stream_Read(stream, out, piece) != piece) return 0;
    out += piece;
    n -= piece;
  }
  return 1;
}

int BinFile_WriteBytes(Stream* stream, const void* buffer, size_t n) {
  if (!stream) return 0;
  return n == 0 || Stream_Write(stream, buffer, (uint32_t)n) != nullptr;
}

// Reads count words of wordSize bytes (2 or 4), stored little-endian, into
// destination in host order.
int BinFile_ReadWords(Stream* stream, void* destination, uint64_t count, size_t wordSize) {
  uint8_t chunk[BINFILE_CHUNK];
  uint8_t* out = (uint8_t*)destination;
  uint64_t bytes = count * wordSize;
  while (bytes > 0) {
    size_t n = bytes > BINFILE_CHUNK ? BINFILE_CHUNK : (size_t)bytes;
    if (!BinFile_ReadBytes(stream, chunk, n)) return 0;
    ByteReader words = ByteReader_Init(chunk, n);
    for (size_t i = 0; i < n; i += wordSize) {
      if (wordSize == 4) {
        uint32_t v = ByteReader_U32(&words);
        memcpy(out + i, &v, 4);
      } else {
        uint16_t v = ByteReader_U16(&words);
        memcpy(out + i, &v, 2);
      }
    }
    out += n;
    bytes -= n;
  }
  return 1;
}

// Writes count host-order words of wordSize bytes little-endian, in pieces
// of at most 256 bytes.
int BinFile_WriteWords(Stream* stream, const void* source, uint64_t count, size_t wordSize) {
  uint8_t chunk[BINFILE_CHUNK];
  const uint8_t* in = (const uint8_t*)source;
  uint64_t bytes = count * wordSize;
  while (bytes > 0) {
    size_t n = bytes > BINFILE_CHUNK ? BINFILE_CHUNK : (size_t)bytes;
    for (size_t i = 0; i < n; i += wordSize) {
      if (wordSize == 4) {
        uint32_t v;
        memcpy(&v, in + i, 4);
        Bytes_StoreU32(chunk + i, v);
      } else {
        uint16_t v;
        memcpy(&v, in + i, 2);
        Bytes_StoreU16(chunk + i, v);
      }
    }
    if (!BinFile_WriteBytes(stream, chunk, n)) return 0;
    in += n;
    bytes -= n;
  }
  return 1;
}

int BinFile_IsDiskPath(const char* name) {
  static const char prefix[] = "DATA\\";
  for (int i = 0; i < 5; i++)
    if (String_UpperAscii(name[i]) != prefix[i]) return 0;
  return 1;
}

}  // namespace

void BinFile_PadString(uint8_t* out, const char* text, uint32_t length) {
  uint64_t field = BinFile_PaddedSize(length);
  memcpy(out, text, length);
  memset(out + length, 0, (size_t)(field - length));
}

Stream* BinFile_Open(const char* name, const char* mode) {
  if (!name || !mode) return nullptr;
  int access;
  switch (mode[0]) {
    case 'r': access = STREAM_READ; break;
    case 'w': access = STREAM_WRITE; break;
    case 'a': access = STREAM_APPEND; break;
    default: return nullptr;
  }
  const char* path = BinFile_IsDiskPath(name) ? name : File_ResolvePath(name);
  return Stream_Open(STREAM_FILENAME, (uint32_t)access, path);
}

int BinFile_Close(Stream* stream) {
  return stream && Stream_Close(stream, nullptr) ? 1 : 0;
}

int BinFile_ReadInt32(Stream* stream, void* destination) {
  return BinFile_ReadWords(stream, destination, 1, 4);
}

int BinFile_ReadInt32s(Stream* stream, void* destination, uint32_t count) {
  return BinFile_ReadWords(stream, destination, count, 4);
}

int BinFile_ReadInt16s(Stream* stream, void* destination, uint32_t count) {
  return BinFile_ReadWords(stream, destination, count, 2);
}

int BinFile_ReadVec3s(Stream* stream, void* destination, uint32_t count) {
  return BinFile_ReadWords(stream, destination, (uint64_t)count * 3, 4);
}

int BinFile_ReadMatrix(Stream* stream, void* destination) {
  return BinFile_ReadWords(stream, destination, 16, 4);
}

int BinFile_ReadString(Stream* stream, char* destination, uint32_t length) {
  // The whole words of characters go straight to the destination; the last
  // word or two (characters, NUL, padding) through a scratch buffer, so that
  // nothing beyond the characters and their NUL is written.
  size_t direct = (size_t)(length / 4) * 4;
  if (!BinFile_ReadBytes(stream, destination, direct)) return 0;
  uint8_t tail[8];
  size_t tailSize = (size_t)(BinFile_PaddedSize(length) - direct);
  if (!BinFile_ReadBytes(stream, tail, tailSize)) return 0;
  memcpy(destination + direct, tail, length % 4);
  destination[length] = 0;
  return 1;
}

int BinFile_WriteInt32s(Stream* stream, const void* source, uint32_t count) {
  return BinFile_WriteWords(stream, source, count, 4);
}

int BinFile_WriteInt16s(Stream* stream, const void* source, uint32_t count) {
  return BinFile_WriteWords(stream, source, count, 2);
}

int BinFile_WriteFloats(Stream* stream, const float* source, uint32_t count) {
  return BinFile_WriteWords(stream, source, count, 4);
}

int BinFile_WriteVec3s(Stream* stream, const float* source, uint32_t count) {
  return BinFile_WriteWords(stream, source, (uint64_t)count * 3, 4);
}

int BinFile_WriteMatrix(Stream* stream, const float* matrix) {
  return BinFile_WriteWords(stream, matrix, 16, 4);
}

int BinFile_WriteString(Stream* stream, const char* text, uint32_t length) {
  if (!BinFile_WriteInt32s(stream, &length, 1)) return 0;
  size_t direct = (size_t)(length / 4) * 4;
  if (!BinFile_WriteBytes(stream, text, direct)) return 0;
  uint8_t tail[8];
  BinFile_PadString(tail, text + direct, length % 4);
  // PadString sized the tail for L mod 4 characters; the field of L needs
  // the same number of bytes beyond the whole words.
  return BinFile_WriteBytes(stream, tail, (size_t)(BinFile_PaddedSize(length) - direct));
}
