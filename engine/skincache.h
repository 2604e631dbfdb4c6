// Skin-weight cache ("bwl"): the weights a skinned scene object computed
// for its vertices, kept in the hashed cache so later loads skip the
// computation. Named Cache_NameFromSource("%s.lwo" of the object path, 0,
// "bwl").
//
// Layout (little-endian): u32 vertex count V, u32 bone count B, then V x B
// entries of 12 bytes, vertex by vertex and bone by bone: u32 remapped flag,
// f32 weight, u32 bone index.
#pragma once

struct NodeExtra;
struct RenderObj;

// Writes the binding's weight table; a binding without vertices writes only
// the two counts. 1 when every byte was written.
int ObjectCache_Write(const NodeExtra* extra, const char* objectPath);
// Reads the weights into the binding for the render object's geometry: 1
// read; 0 when there is no file, or its counts differ from the geometry's
// vertices and the binding's bones, or it holds the wrong number of bytes or
// a bone index past the bones (all treated as no cache, the binding's table
// left empty). Links the binding to the render object.
int ObjectCache_Read(NodeExtra* extra, RenderObj* object, const char* objectPath);
