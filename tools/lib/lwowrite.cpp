#include "tools/lib/lwowrite.h"

#include <cstring>

void LwoBytes::U2(uint32_t v)
{
    data.push_back((uint8_t)(v >> 8));
    data.push_back((uint8_t)v);
}

void LwoBytes::U4(uint32_t v)
{
    U2(v >> 16);
    U2(v & 0xFFFF);
}

void LwoBytes::F4(float v)
{
    uint32_t bits;
    memcpy(&bits, &v, 4);
    U4(bits);
}

void LwoBytes::Id(const char* id)
{
    for (int i = 0; i < 4; i++) data.push_back((uint8_t)(id[i] ? id[i] : ' '));
}

void LwoBytes::S0(const std::string& text)
{
    data.insert(data.end(), text.begin(), text.end());
    data.push_back(0);
    if ((text.size() + 1) & 1) data.push_back(0);
}

void LwoBytes::VX(uint32_t index)
{
    if (index < 0xFF00) {
        U2(index);
    } else {
        U1(0xFF);
        U1(index >> 16);
        U2(index & 0xFFFF);
    }
}

void LwoBytes::Chunk(const char* id, const LwoBytes& payload)
{
    Id(id);
    U4((uint32_t)payload.data.size());
    Append(payload);
    if (payload.data.size() & 1) U1(0);
}

void LwoBytes::SubChunk(const char* id, const LwoBytes& payload)
{
    Id(id);
    U2((uint32_t)payload.data.size());
    Append(payload);
    if (payload.data.size() & 1) U1(0);
}

namespace {

LwoBytes Floats(const float* v, int n, bool envelope)
{
    LwoBytes b;
    for (int i = 0; i < n; i++) b.F4(v[i]);
    if (envelope) b.VX(0);
    return b;
}

LwoBytes Value(float v) { return Floats(&v, 1, true); }

LwoBytes Word(uint32_t v)
{
    LwoBytes b;
    b.U2(v);
    return b;
}

LwoBytes Text(const std::string& s)
{
    LwoBytes b;
    b.S0(s);
    return b;
}

LwoBytes Block(const LwoWriterBlock& block)
{
    LwoBytes b, header, headerPayload, tmap;
    headerPayload.S0(block.ordinal);
    LwoBytes chan;
    chan.Id(block.channel.c_str());
    headerPayload.SubChunk("CHAN", chan);
    headerPayload.SubChunk("ENAB", Word(1));
    b.SubChunk("IMAP", headerPayload);
    tmap.SubChunk("CNTR", Floats(block.centre, 3, true));
    tmap.SubChunk("SIZE", Floats(block.size, 3, true));
    b.SubChunk("TMAP", tmap);
    b.SubChunk("PROJ", Word(block.projection));
    b.SubChunk("AXIS", Word(block.axis));
    if (block.clip) {
        LwoBytes imag;
        imag.VX(block.clip);
        b.SubChunk("IMAG", imag);
    }
    if (!block.uvMap.empty()) b.SubChunk("VMAP", Text(block.uvMap));
    return b;
}

LwoBytes Surface2(const LwoWriterSurface& s)
{
    LwoBytes b;
    b.S0(s.name);
    b.S0("");  // source surface
    b.SubChunk("COLR", Floats(s.colour, 3, true));
    b.SubChunk("DIFF", Value(s.diffuse));
    b.SubChunk("LUMI", Value(s.luminosity));
    b.SubChunk("SPEC", Value(s.specular));
    b.SubChunk("REFL", Value(s.reflection));
    b.SubChunk("TRAN", Value(s.transparency));
    b.SubChunk("SIDE", Word(s.sides));
    if (s.smoothingAngle >= 0) b.SubChunk("SMAN", Floats(&s.smoothingAngle, 1, false));
    if (!s.vertexColourMap.empty()) {
        LwoBytes v;
        v.F4(s.vertexColourIntensity);
        v.VX(0);
        v.Id(s.vertexColourType.c_str());
        v.S0(s.vertexColourMap);
        b.SubChunk("VCOL", v);
    }
    if (s.reflectionClip) {
        LwoBytes r;
        r.VX(s.reflectionClip);
        b.SubChunk("RIMG", r);
    }
    for (const LwoWriterBlock& block : s.blocks) b.SubChunk("BLOK", Block(block));
    return b;
}

// Version 1 values: colour bytes and 8.8 fixed point fractions.
LwoBytes Fixed(float v) { return Word((uint32_t)(v * 256.0f + 0.5f) & 0xFFFF); }

LwoBytes Surface1(const LwoWriterSurface& s)
{
    LwoBytes b;
    b.S0(s.name);
    LwoBytes colour;
    for (float c : s.colour) colour.U1((uint32_t)(c * 255.0f + 0.5f));
    colour.U1(0);
    b.SubChunk("COLR", colour);
    b.SubChunk("DIFF", Fixed(s.diffuse));
    b.SubChunk("LUMI", Fixed(s.luminosity));
    b.SubChunk("SPEC", Fixed(s.specular));
    b.SubChunk("REFL", Fixed(s.reflection));
    b.SubChunk("TRAN", Fixed(s.transparency));
    b.SubChunk("FLAG", Word(s.sides == 3 ? 0x100 : 0));
    if (s.smoothingAngle >= 0) b.SubChunk("SMAN", Floats(&s.smoothingAngle, 1, false));
    if (!s.reflectionImage.empty()) b.SubChunk("RIMG", Text(s.reflectionImage));
    if (!s.textureType.empty()) {
        b.SubChunk("CTEX", Text(s.textureType));
        if (!s.textureImage.empty()) b.SubChunk("TIMG", Text(s.textureImage));
        b.SubChunk("TFLG", Word(s.textureFlags));
        b.SubChunk("TSIZ", Floats(s.textureSize, 3, false));
        b.SubChunk("TCTR", Floats(s.textureCentre, 3, false));
    }
    return b;
}

LwoBytes Clip(uint32_t index, const LwoWriterClip& c)
{
    LwoBytes b;
    b.U4(index);
    if (!c.still.empty()) {
        b.SubChunk("STIL", Text(c.still));
    } else {
        LwoBytes s;
        s.U1(c.digits);
        s.U1(c.flags);
        s.U2((uint16_t)c.offset);
        s.U2(0);
        s.U2((uint16_t)c.first);
        s.U2((uint16_t)c.last);
        s.S0(c.prefix);
        s.S0(c.suffix);
        b.SubChunk("ISEQ", s);
    }
    return b;
}

void Maps(LwoBytes& out, const LwoWriterLayer& layer, bool perPolygon)
{
    for (const LwoWriterVertexMap& map : layer.maps) {
        LwoBytes b;
        b.Id(map.type.c_str());
        b.U2(map.dimension);
        b.S0(map.name);
        bool any = false;
        for (const LwoWriterMapEntry& e : map.entries) {
            if ((e.polygon >= 0) != perPolygon) continue;
            any = true;
            b.VX(e.point);
            if (perPolygon) b.VX((uint32_t)e.polygon);
            for (uint16_t i = 0; i < map.dimension; i++) b.F4(i < e.values.size() ? e.values[i] : 0.0f);
        }
        if (any) out.Chunk(perPolygon ? "VMAD" : "VMAP", b);
    }
}

LwoBytes Points(const std::vector<float>& points)
{
    LwoBytes b;
    for (float v : points) b.F4(v);
    return b;
}

LwoBytes BoundingBox(const std::vector<float>& points)
{
    float box[6] = {0, 0, 0, 0, 0, 0};
    for (size_t i = 0; i + 2 < points.size(); i += 3)
        for (int k = 0; k < 3; k++) {
            if (i == 0 || points[i + k] < box[k]) box[k] = points[i + k];
            if (i == 0 || points[i + k] > box[3 + k]) box[3 + k] = points[i + k];
        }
    return Floats(box, 6, false);
}

void Version2(LwoBytes& form, const LwoWriterObject& object)
{
    LwoBytes tags;
    for (const std::string& t : object.tags) tags.S0(t);
    form.Chunk("TAGS", tags);
    for (size_t i = 0; i < object.clips.size(); i++) form.Chunk("CLIP", Clip((uint32_t)i + 1, object.clips[i]));
    for (const LwoWriterLayer& layer : object.layers) {
        LwoBytes layr;
        layr.U2(layer.number);
        layr.U2(0);
        const float pivot[3] = {0, 0, 0};
        layr.Append(Floats(pivot, 3, false));
        layr.S0(layer.name);
        form.Chunk("LAYR", layr);
        form.Chunk("PNTS", Points(layer.points));
        form.Chunk("BBOX", BoundingBox(layer.points));
        Maps(form, layer, false);
        LwoBytes pols, ptag;
        pols.Id("FACE");
        ptag.Id("SURF");
        for (size_t i = 0; i < layer.polygons.size(); i++) {
            const LwoWriterPolygon& p = layer.polygons[i];
            pols.U2((uint32_t)p.points.size() & 0x3FF);
            for (uint32_t v : p.points) pols.VX(v);
            ptag.VX((uint32_t)i);
            ptag.U2(p.tag);
        }
        form.Chunk("POLS", pols);
        form.Chunk("PTAG", ptag);
        Maps(form, layer, true);
    }
    for (const LwoWriterSurface& s : object.surfaces) form.Chunk("SURF", Surface2(s));
}

void Version1(LwoBytes& form, const LwoWriterObject& object)
{
    LwoBytes srfs;
    for (const std::string& t : object.tags) srfs.S0(t);
    form.Chunk("SRFS", srfs);
    LwoBytes pnts, pols;
    uint32_t base = 0;
    for (const LwoWriterLayer& layer : object.layers) {
        pnts.Append(Points(layer.points));
        for (const LwoWriterPolygon& p : layer.polygons) {
            pols.U2((uint32_t)p.points.size());
            for (uint32_t v : p.points) pols.VX(v + base);
            pols.U2(p.tag + 1);
        }
        base += (uint32_t)(layer.points.size() / 3);
    }
    form.Chunk("PNTS", pnts);
    form.Chunk("POLS", pols);
    for (const LwoWriterSurface& s : object.surfaces) form.Chunk("SURF", Surface1(s));
}

}  // namespace

std::vector<uint8_t> LwoWriter_Write(const LwoWriterObject& object)
{
    LwoBytes form;
    form.Id(object.version == 1 ? "LWOB" : "LWO2");
    if (object.version == 1)
        Version1(form, object);
    else
        Version2(form, object);
    LwoBytes file;
    file.Chunk("FORM", form);
    return file.data;
}
