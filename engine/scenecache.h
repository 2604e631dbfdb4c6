// Scene cache ("lsf"): a parsed scene stored in the hashed cache so that
// later loads skip the text parse. Named Cache_NameFromSource(scene path with
// ".lws", 0, "lsf"); written after every text parse, read while it is fresh.
//
// Layout (little-endian; u16 fields unpadded; an index is a u32 position in
// its array, 0xFFFFFFFF for none; a text block is u32 L, then L characters,
// a NUL and zero fill to floor((L + 1) / 4) + 1 words):
//   header: fps, duration, start (f32); ambient colour (u32); ambient
//     intensity (f32); first camera, camera count, first light, light count
//     (i32); weight-map pool size W (u32) and, when W != 0, the pool's text
//     block without a second length word; item-name pool likewise; zoom
//     (f32); sound-null count, two spare fields (u16); scene flags (u32);
//     item count N, bone count B (u16);
//   N items: node index, second index (u16); pivot, pivot rotation (3 f32
//     each); key count K (u16); dissolve count D (u16) and D values, D times;
//     intensity count I (u16) and I values, I times; first bone (index);
//     falloff (f32); kind (u16); K keys of 44 bytes (position, rotation,
//     scale, time, channel mask);
//   N records: name offset, duplicate, light-name offset, light colour, light
//     type (u32); intensity, range, cone, edge (f32); falloff type (u32);
//     parent, parent bone, first child, next sibling, item (u32);
//   N parent codes (u32), the root record (index);
//   B bones: node index (u32); pivot, pivot rotation, rest position, rest
//     direction (3 f32 each); rest length, strength (f32); key count K
//     (u16); item node index, bone number (u32); inverse rest matrix (16
//     f32); weight-map offset, first child, next bone (u32); flags (u16);
//     name (text block); K keys;
//   when B != 0, B bone parents (u32).
#pragma once

struct Scene;

// Writes the parsed scene; 1 when every byte was written.
int SceneCache_Write(const Scene* scene, const char* cacheName);
// Reads a cache into a scene record without parsed data. Every count is
// checked against the bytes left, every index against its array, and the
// record tree and bone chains must hold together; 0 (with the reason set and
// nothing left allocated) when they do not or the file cannot be read.
int SceneCache_Read(Scene* scene, const char* cacheName);
