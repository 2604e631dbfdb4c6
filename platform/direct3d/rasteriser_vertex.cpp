// Vertex processing of the software rasteriser: transform (row vectors),
// per-vertex lighting, texture-coordinate generation and transforms, and
// vertex fog. Lighting, texture generation and fog work in camera space.
#include <cmath>
#include <cstring>

#include "platform/direct3d/rasteriser_internal.h"

namespace {

struct Mat4 {
  float m[4][4];
};

Mat4 Mul(const Mat4& a, const Mat4& b) {
  Mat4 r;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      r.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j] + a.m[i][3] * b.m[3][j];
  return r;
}

Mat4 FromD3D(const D3DMATRIX& d) {
  Mat4 r;
  memcpy(r.m, d.m, sizeof r.m);
  return r;
}

inline float Dot3(const float* a, const float* b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

inline void Normalise(float* v) {
  float len2 = Dot3(v, v);
  if (len2 > 0.0f) {
    float k = 1.0f / std::sqrt(len2);
    v[0] *= k;
    v[1] *= k;
    v[2] *= k;
  }
}

// Point (x, y, z, 1) or direction (x, y, z, 0) times the upper rows of m.
inline void XformPoint(const Mat4& m, const float* p, float* out) {
  for (int j = 0; j < 3; ++j) out[j] = p[0] * m.m[0][j] + p[1] * m.m[1][j] + p[2] * m.m[2][j] + m.m[3][j];
}
inline void XformDir(const float (*m)[3], const float* d, float* out) {
  for (int j = 0; j < 3; ++j) out[j] = d[0] * m[0][j] + d[1] * m[1][j] + d[2] * m[2][j];
}

// Normals go through the inverse transpose of world x view, so non-uniform
// scales keep them perpendicular to their surfaces. A singular matrix falls
// back to the matrix itself (the normals are meaningless then anyway).
void NormalMatrix(const Mat4& wv, float (*out)[3]) {
  const float(*a)[4] = wv.m;
  float c00 = a[1][1] * a[2][2] - a[1][2] * a[2][1];
  float c01 = a[1][2] * a[2][0] - a[1][0] * a[2][2];
  float c02 = a[1][0] * a[2][1] - a[1][1] * a[2][0];
  float det = a[0][0] * c00 + a[0][1] * c01 + a[0][2] * c02;
  if (std::fabs(det) < 1e-30f) {
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) out[i][j] = a[i][j];
    return;
  }
  float k = 1.0f / det;
  // Inverse transpose = cofactor matrix / det.
  out[0][0] = c00 * k;
  out[0][1] = c01 * k;
  out[0][2] = c02 * k;
  out[1][0] = (a[0][2] * a[2][1] - a[0][1] * a[2][2]) * k;
  out[1][1] = (a[0][0] * a[2][2] - a[0][2] * a[2][0]) * k;
  out[1][2] = (a[0][1] * a[2][0] - a[0][0] * a[2][1]) * k;
  out[2][0] = (a[0][1] * a[1][2] - a[0][2] * a[1][1]) * k;
  out[2][1] = (a[0][2] * a[1][0] - a[0][0] * a[1][2]) * k;
  out[2][2] = (a[0][0] * a[1][1] - a[0][1] * a[1][0]) * k;
}

inline void ColourOf(uint32_t argb, float* c) {
  c[0] = float((argb >> 16) & 255) * (1.0f / 255.0f);
  c[1] = float((argb >> 8) & 255) * (1.0f / 255.0f);
  c[2] = float(argb & 255) * (1.0f / 255.0f);
  c[3] = float(argb >> 24) * (1.0f / 255.0f);
}

inline float Clamp01(float v) { return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v); }

inline float Bits(uint32_t v) {
  float f;
  memcpy(&f, &v, 4);
  return f;
}

}  // namespace

void RasteriserVertex_Plan(const D3D8DrawState* s, const RasteriserPlan* plan, RasteriserVertexPlan* vp) {
  const D3D8VertexLayout& L = s->layout;
  const uint32_t* rs = s->renderStates;
  const bool pre = L.pretransformed;
  vp->layout = L;
  vp->stride = s->stride;
  vp->pre = pre;

  Mat4 world = FromD3D(s->world), view = FromD3D(s->view), proj = FromD3D(s->projection);
  Mat4 wv = Mul(world, view);
  Mat4 wvp = Mul(wv, proj);
  memcpy(vp->wv, wv.m, sizeof vp->wv);
  memcpy(vp->wvp, wvp.m, sizeof vp->wvp);

  const bool lighting = !pre && rs[D3DRS_LIGHTING] != 0;
  bool needNormal = lighting;
  bool needCamPos = lighting || (!pre && plan->fog);
  vp->stageCount = plan->stageCount;
  for (int i = 0; i < plan->stageCount; ++i) {
    const RasteriserStage& st = plan->stages[i];
    RasteriserVertexStage& vs = vp->stages[i];
    vs.sample = st.sample;
    if (!st.sample) continue;
    vs.texCoordIndex = s->stageStates[i][D3DTSS_TEXCOORDINDEX];
    vs.transformFlags = s->stageStates[i][D3DTSS_TEXTURETRANSFORMFLAGS] & 0xFFu;
    vs.transform = s->textureTransform[i];
    vs.attr = st.attr;
    vs.width = float(st.levels[0].width);
    vs.height = float(st.levels[0].height);
    if (vs.texCoordIndex & 0xFFFF0000u) {
      needNormal = true;
      needCamPos = true;
    }
  }
  vp->lighting = lighting;
  vp->needNormal = needNormal;
  vp->needCamPos = needCamPos;
  if (needNormal) NormalMatrix(wv, vp->nmat);
  vp->normalise = rs[D3DRS_NORMALIZENORMALS] != 0;

  // Lights into camera space once per draw.
  vp->lightCount = 0;
  float viewRot[3][3];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) viewRot[i][j] = view.m[i][j];
  if (lighting) {
    int n = s->lightCount < D3D8_MAX_DRAW_LIGHTS ? s->lightCount : D3D8_MAX_DRAW_LIGHTS;
    for (int i = 0; i < n; ++i) {
      const D3DLIGHT8& l = s->lights[i];
      RasteriserLight& c = vp->lights[vp->lightCount++];
      c.type = l.Type;
      c.diffuse[0] = l.Diffuse.r;
      c.diffuse[1] = l.Diffuse.g;
      c.diffuse[2] = l.Diffuse.b;
      float p[3] = {l.Position.x, l.Position.y, l.Position.z};
      XformPoint(view, p, c.position);
      float d[3] = {l.Direction.x, l.Direction.y, l.Direction.z};
      XformDir(viewRot, d, c.spotDir);
      Normalise(c.spotDir);
      c.toLight[0] = -c.spotDir[0];
      c.toLight[1] = -c.spotDir[1];
      c.toLight[2] = -c.spotDir[2];
      c.range = l.Range;
      c.a0 = l.Attenuation0;
      c.a1 = l.Attenuation1;
      c.a2 = l.Attenuation2;
      c.cosHalfTheta = std::cos(l.Theta * 0.5f);
      c.cosHalfPhi = std::cos(l.Phi * 0.5f);
      c.falloff = l.Falloff;
    }
  }
  const bool colourVertex = rs[D3DRS_COLORVERTEX] != 0 && L.diffuse >= 0;
  vp->diffuseFromVertex = colourVertex && rs[D3DRS_DIFFUSEMATERIALSOURCE] == D3DMCS_COLOR1;
  vp->emissiveFromVertex = colourVertex && rs[D3DRS_EMISSIVEMATERIALSOURCE] == D3DMCS_COLOR1;
  vp->ambientFromVertex = colourVertex && rs[D3DRS_AMBIENTMATERIALSOURCE] == D3DMCS_COLOR1;
  ColourOf(rs[D3DRS_AMBIENT], vp->ambientLight);
  const D3DMATERIAL8& mat = s->material;
  const float matDiffuse[4] = {mat.Diffuse.r, mat.Diffuse.g, mat.Diffuse.b, mat.Diffuse.a};
  const float matAmbient[4] = {mat.Ambient.r, mat.Ambient.g, mat.Ambient.b, mat.Ambient.a};
  const float matEmissive[4] = {mat.Emissive.r, mat.Emissive.g, mat.Emissive.b, mat.Emissive.a};
  memcpy(vp->matDiffuse, matDiffuse, sizeof matDiffuse);
  memcpy(vp->matAmbient, matAmbient, sizeof matAmbient);
  memcpy(vp->matEmissive, matEmissive, sizeof matEmissive);

  // Fog: table mode wins when both are set; pre-transformed vertices never fog.
  vp->fogMode = rs[D3DRS_FOGTABLEMODE] ? rs[D3DRS_FOGTABLEMODE] : rs[D3DRS_FOGVERTEXMODE];
  vp->fog = plan->fog && !pre;
  vp->fogStart = Bits(rs[D3DRS_FOGSTART]);
  vp->fogEnd = Bits(rs[D3DRS_FOGEND]);
  vp->fogDensity = Bits(rs[D3DRS_FOGDENSITY]);
  vp->localViewer = rs[D3DRS_LOCALVIEWER] != 0;

  // Viewport mapping for projected vertices.
  const D3DVIEWPORT8& v = s->viewport;
  vp->vpX = float(int32_t(v.X));
  vp->vpY = float(int32_t(v.Y));
  vp->halfW = float(v.Width) * 0.5f;
  vp->halfH = float(v.Height) * 0.5f;
  vp->zScale = v.MaxZ - v.MinZ;
  vp->zBias = v.MinZ;
}

void RasteriserVertex_Process(const RasteriserVertexPlan* vp, const uint8_t* vertices, int first, int count,
                              RasteriserVertex* out) {
  const D3D8VertexLayout& L = vp->layout;
  const bool pre = vp->pre;
  Mat4 wv, wvp;
  memcpy(wv.m, vp->wv, sizeof wv.m);
  memcpy(wvp.m, vp->wvp, sizeof wvp.m);
  const bool lighting = vp->lighting, needNormal = vp->needNormal, needCamPos = vp->needCamPos;
  const float(*nmat)[3] = vp->nmat;
  const bool normalise = vp->normalise;
  const RasteriserLight* lights = vp->lights;
  const int lightCount = vp->lightCount;
  const bool diffuseFromVertex = vp->diffuseFromVertex, emissiveFromVertex = vp->emissiveFromVertex,
             ambientFromVertex = vp->ambientFromVertex;
  const float* ambientLight = vp->ambientLight;
  const float* matDiffuse = vp->matDiffuse;
  const float* matAmbient = vp->matAmbient;
  const float* matEmissive = vp->matEmissive;
  const uint32_t fogMode = vp->fogMode;
  const bool fog = vp->fog;
  const float fogStart = vp->fogStart, fogEnd = vp->fogEnd, fogDensity = vp->fogDensity;
  const bool localViewer = vp->localViewer;
  const float vpX = vp->vpX, vpY = vp->vpY, halfW = vp->halfW, halfH = vp->halfH, zScale = vp->zScale,
              zBias = vp->zBias;

  for (int k = 0; k < count; ++k) {
    const uint8_t* v = vertices + size_t(first + k) * size_t(vp->stride);
    RasteriserVertex& o = out[k];
    float pos[4];
    memcpy(pos, v + L.position, (pre ? 4 : 3) * sizeof(float));

    if (pre) {
      // Render-target pixels as given: the viewport origin is not added.
      float rhw = pos[3];
      if (!(rhw > 0.0f) || !std::isfinite(rhw)) rhw = 1.0f;
      float w = 1.0f / rhw;
      for (int j = 0; j < 3; ++j)
        if (!std::isfinite(pos[j]) || std::fabs(pos[j]) > 1e9f) pos[j] = pos[j] > 0 ? 1e9f : -1e9f;
      o.sx = pos[0];
      o.sy = pos[1];
      o.sz = pos[2];
      o.oow = rhw;
      o.cx = pos[0] * w;
      o.cy = pos[1] * w;
      o.cz = pos[2] * w;
      o.cw = w;
    } else {
      // The one position path: p x (world x view x projection).
      o.cx = pos[0] * wvp.m[0][0] + pos[1] * wvp.m[1][0] + pos[2] * wvp.m[2][0] + wvp.m[3][0];
      o.cy = pos[0] * wvp.m[0][1] + pos[1] * wvp.m[1][1] + pos[2] * wvp.m[2][1] + wvp.m[3][1];
      o.cz = pos[0] * wvp.m[0][2] + pos[1] * wvp.m[1][2] + pos[2] * wvp.m[2][2] + wvp.m[3][2];
      o.cw = pos[0] * wvp.m[0][3] + pos[1] * wvp.m[1][3] + pos[2] * wvp.m[2][3] + wvp.m[3][3];
      if (o.cw != 0.0f) {
        float oow = 1.0f / o.cw;
        o.sx = vpX + (o.cx * oow + 1.0f) * halfW;
        o.sy = vpY + (1.0f - o.cy * oow) * halfH;
        o.sz = zBias + o.cz * oow * zScale;
        o.oow = oow;
      } else {
        o.sx = o.sy = o.sz = o.oow = 0.0f;
      }
    }

    float camPos[3] = {0, 0, 0}, normal[3] = {0, 0, 0};
    if (needCamPos) XformPoint(wv, pos, camPos);
    if (needNormal && L.normal >= 0) {
      float n[3];
      memcpy(n, v + L.normal, sizeof n);
      XformDir(nmat, n, normal);
      if (normalise) Normalise(normal);
    }

    uint32_t vdiff = 0xFFFFFFFFu;
    if (L.diffuse >= 0) memcpy(&vdiff, v + L.diffuse, 4);
    float colour[4];
    if (lighting) {
      float vc[4];
      ColourOf(vdiff, vc);
      const float* dsrc = diffuseFromVertex ? vc : matDiffuse;
      const float* esrc = emissiveFromVertex ? vc : matEmissive;
      const float* asrc = ambientFromVertex ? vc : matAmbient;
      float acc[3];
      for (int j = 0; j < 3; ++j) acc[j] = esrc[j] + asrc[j] * ambientLight[j];
      for (int li = 0; li < lightCount; ++li) {
        const RasteriserLight& l = lights[li];
        float toL[3], att = 1.0f, spot = 1.0f;
        if (l.type == D3DLIGHT_DIRECTIONAL) {
          toL[0] = l.toLight[0];
          toL[1] = l.toLight[1];
          toL[2] = l.toLight[2];
        } else {
          toL[0] = l.position[0] - camPos[0];
          toL[1] = l.position[1] - camPos[1];
          toL[2] = l.position[2] - camPos[2];
          float d2 = Dot3(toL, toL);
          float d = std::sqrt(d2);
          if (d > l.range) continue;
          float den = l.a0 + l.a1 * d + l.a2 * d2;
          att = den > 0.0f ? 1.0f / den : 1.0f;
          if (d > 0.0f) {
            float inv = 1.0f / d;
            toL[0] *= inv;
            toL[1] *= inv;
            toL[2] *= inv;
          }
          if (l.type == D3DLIGHT_SPOT) {
            float rho = -Dot3(toL, l.spotDir);
            if (rho > l.cosHalfTheta) spot = 1.0f;
            else if (rho <= l.cosHalfPhi) spot = 0.0f;
            else {
              // Only reached when the cone has width, so the divisor is > 0.
              float t = (rho - l.cosHalfPhi) / (l.cosHalfTheta - l.cosHalfPhi);
              spot = l.falloff == 1.0f ? t : std::pow(t, l.falloff);
            }
          }
        }
        float ndl = Dot3(normal, toL);
        if (ndl <= 0.0f) continue;
        float k = att * spot * ndl;
        for (int j = 0; j < 3; ++j) acc[j] += k * l.diffuse[j] * dsrc[j];
      }
      colour[0] = Clamp01(acc[0]) * 255.0f;
      colour[1] = Clamp01(acc[1]) * 255.0f;
      colour[2] = Clamp01(acc[2]) * 255.0f;
      colour[3] = Clamp01(dsrc[3]) * 255.0f;
    } else {
      colour[0] = float((vdiff >> 16) & 255);
      colour[1] = float((vdiff >> 8) & 255);
      colour[2] = float(vdiff & 255);
      colour[3] = float(vdiff >> 24);
    }
    o.a[0] = colour[0];
    o.a[1] = colour[1];
    o.a[2] = colour[2];
    o.a[3] = colour[3];

    float f = 1.0f;
    if (fog) {
      float d = camPos[2];
      if (fogMode == D3DFOG_LINEAR) {
        float span = fogEnd - fogStart;
        f = span != 0.0f ? (fogEnd - d) / span : (d < fogEnd ? 1.0f : 0.0f);
      } else if (fogMode == D3DFOG_EXP) {
        f = std::exp(-fogDensity * d);
      } else if (fogMode == D3DFOG_EXP2) {
        float t = fogDensity * d;
        f = std::exp(-t * t);
      }
      f = Clamp01(f);
    }
    o.a[RASTERISER_ATTR_FOG] = f;

    for (int si = 0; si < vp->stageCount; ++si) {
      const RasteriserVertexStage& st = vp->stages[si];
      if (!st.sample) continue;
      uint32_t tci = st.texCoordIndex;
      uint32_t gen = tci & 0xFFFF0000u;
      float in[4] = {0, 0, 0, 0};
      if (gen == D3DTSS_TCI_CAMERASPACENORMAL) {
        in[0] = normal[0], in[1] = normal[1], in[2] = normal[2], in[3] = 1.0f;
      } else if (gen == 0x20000u) {  // camera-space position
        in[0] = camPos[0], in[1] = camPos[1], in[2] = camPos[2], in[3] = 1.0f;
      } else if (gen == D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR) {
        // Reflection of the viewing direction about the normal. Without a
        // local viewer the eye looks along +z everywhere.
        float e[3] = {0.0f, 0.0f, 1.0f};
        if (localViewer) {
          e[0] = camPos[0], e[1] = camPos[1], e[2] = camPos[2];
          Normalise(e);
        }
        float n[3] = {normal[0], normal[1], normal[2]};
        Normalise(n);
        float k = 2.0f * Dot3(n, e);
        in[0] = e[0] - k * n[0], in[1] = e[1] - k * n[1], in[2] = e[2] - k * n[2], in[3] = 1.0f;
      } else {
        // A set the format lacks reads (0, 0). A set of n floats extends
        // with 1 then zeros, so (u, v) becomes (u, v, 1, 0) and a 2-D
        // translation sits in the matrix's third row.
        uint32_t set = tci & 0xFFFFu;
        if (set < uint32_t(L.texCount)) {
          int n = L.texSize[set];
          if (n < 1) n = 1;
          if (n > 4) n = 4;
          memcpy(in, v + L.texOffset[set], size_t(n) * sizeof(float));
          if (n < 4) in[n] = 1.0f;
        }
      }
      float u = in[0], w = in[1];
      if (st.transformFlags != D3DTTFF_DISABLE) {
        const D3DMATRIX& m = st.transform;
        u = in[0] * m.m[0][0] + in[1] * m.m[1][0] + in[2] * m.m[2][0] + in[3] * m.m[3][0];
        w = in[0] * m.m[0][1] + in[1] * m.m[1][1] + in[2] * m.m[2][1] + in[3] * m.m[3][1];
      }
      o.a[st.attr] = u * st.width;
      o.a[st.attr + 1] = w * st.height;
    }
  }
}
