// The save record: one fixed-size record of 1936 bytes that the save screens
// write and read whole. It carries a date header, the two volume settings and
// the context's whole progress block, protected by two checksums. The layout
// is fixed forever; every field is packed and read one by one, little-endian:
//
//   offset size
//   0      64   date text: ctime's 24 characters and "\n", upper-cased, NUL-padded
//   64     4    time stamp: the millisecond clock at saving
//   68     4    number of progress entries with the completed bit
//   72     4    header checksum: Bytes_Hash(bytes 0..71)
//   76     4    effects volume byte (low 8 bits)
//   80     4    music volume byte (low 8 bits)
//   84     16   four zero words
//   100    600  progress flags, 150 words
//   700    600  progress best values, 150 floats
//   1300   600  player 0's per-entry values, 150 integers
//   1900   32   character locks, 8 words
//   1932   4    record checksum: Bytes_Hash(0..75) + Bytes_Hash(76..99) + Bytes_Hash(100..1931)
//
// The header is bytes 0..75, the settings 76..99, the progress 100..1931.
//
// Volumes are stored as the byte ceil(v x 255 - 1/1024), clamped to 0..255,
// and read back as byte / 255: 0.65 is 166, 0.35 is 90, and any byte read
// back and saved again gives the same byte (a plain round-up of v x 255 in
// single precision climbs one step per load and save for about half of them).
//
// A record is applied only when both checksums match.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t SAVE_RECORD_SIZE = 1936;
constexpr size_t SAVE_HEADER_SIZE = 76;     // what the save screens read to list a save
constexpr size_t SAVE_DATE_SIZE = 64;
constexpr size_t SAVE_OFFSET_TIME = 64;
constexpr size_t SAVE_OFFSET_COMPLETED = 68;
constexpr size_t SAVE_OFFSET_HEADER_SUM = 72;
constexpr size_t SAVE_OFFSET_EFFECTS = 76;
constexpr size_t SAVE_OFFSET_MUSIC = 80;
constexpr size_t SAVE_OFFSET_PROGRESS = 100;
constexpr size_t SAVE_OFFSET_RECORD_SUM = 1932;

// Where Save_BuildRecord takes the date and the time stamp from: the date
// text as ctime writes it (at least 26 bytes are given) and the milliseconds.
typedef void (*SaveTimeSource)(char* date, uint32_t* milliseconds);
// Null restores App_GetTimeString and App_GetTimeMs.
void Save_SetTimeSource(SaveTimeSource source);

// Fills a whole record from the game context: the header (date, stamp,
// completed count; its checksum is left 0), the settings and the progress.
// Copies player 0's per-entry values into the context's progress integers
// first, as the saved copy. The checksums are written by the two seals.
void Save_BuildRecord(uint8_t* record);
// Writes the header checksum (offset 72) of a record or a lone header.
void Save_SealHeader(uint8_t* header);
// 1 when the header checksum of the 76 bytes matches.
int Save_CheckHeader(const uint8_t* header);
// Writes the record checksum (offset 1932); seal the header first, since the
// record checksum covers it.
void Save_SealRecord(uint8_t* record);
int Save_CheckRecord(const uint8_t* record);
// Applies a record to the context: the 458 progress words, player 0's values
// from the progress integers, both volumes (the effects volume becomes the
// master volume; playing level music takes the music volume). 1 when
// applied; 0, with the context untouched, when either checksum fails.
int Save_UnpackRecord(const uint8_t* record);

// The header's date text into out (64 bytes): at most 63 characters, always
// NUL-terminated, whatever the file held, without the line feed the record
// keeps after it.
void Save_GetHeaderDate(const uint8_t* header, char* out);
// The completed count the header carries.
uint32_t Save_GetHeaderCompleted(const uint8_t* header);

// The stored byte of a volume, and the volume of a stored word.
uint32_t Save_VolumeToByte(float volume);
float Save_VolumeFromWord(uint32_t word);

// "Quillomere - Glimfall".
const char* Save_GetTitle(void);
// The record's size in kilobytes as the storage counts it (2).
uint32_t Save_GetSizeKB(void);
