// Immediate-mode 2D: screen-space vertices handed to the device block's
// Im2D functions (28-byte vertices: x, y, z, 1/w, colour, u, v).
#pragma once

#include <cstdint>

// Each returns the device's answer, 0 when the device has no such function.
int32_t Im2D_RenderLine(void *vertices, int32_t count, int32_t index1, int32_t index2);
int32_t Im2D_RenderTriangle(void *vertices, int32_t count, int32_t index1, int32_t index2, int32_t index3);
int32_t Im2D_RenderPrimitive(int32_t primType, void *vertices, int32_t count);
int32_t Im2D_RenderIndexedPrimitive(int32_t primType, void *vertices, int32_t vertexCount, uint16_t *indices,
                                    int32_t indexCount);
// Screen Z of 2D vertices at the near and far planes.
float Im2D_GetNearScreenZ(void);
float Im2D_GetFarScreenZ(void);
