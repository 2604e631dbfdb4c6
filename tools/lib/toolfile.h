// Output files of the data tools. Every file is written to a temporary name
// beside its place and renamed over it once complete, so a tool that fails
// half-way leaves either the old file or none, never a cut one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Writes bytes to path, making the folders on the way. 0 with error set
// ("PATH: what failed") when it can't; nothing is left at path then.
int ToolFile_Write(const std::string& path, const void* bytes, size_t size, std::string* error);
int ToolFile_Write(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error);
int ToolFile_Write(const std::string& path, const std::string& text, std::string* error);

// Appends a little-endian 16- or 32-bit number (file headers).
void ToolFile_PutU16(std::vector<uint8_t>* out, uint32_t v);
void ToolFile_PutU32(std::vector<uint8_t>* out, uint32_t v);

// Reads a whole file. 0 with error set when it can't be opened or read.
int ToolFile_Read(const std::string& path, std::string* out, std::string* error);

// The disk path of a data name below a folder: back-slashes become "/"
// ("Levels\Demo\Ground.lwo" under "stage/DATA" -> "stage/DATA/Levels/Demo/Ground.lwo").
std::string ToolFile_DataPath(const std::string& folder, const std::string& dataName);
