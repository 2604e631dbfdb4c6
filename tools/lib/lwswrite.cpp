#include "tools/lib/lwswrite.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>

namespace {

constexpr double DEGREES = 180.0 / M_PI;

struct Out {
    std::string text;
    void Line(const char* format, ...) __attribute__((format(printf, 2, 3)))
    {
        char buffer[1024];
        va_list args;
        va_start(args, format);
        vsnprintf(buffer, sizeof buffer, format, args);
        va_end(args);
        text += buffer;
        text += '\n';
    }
};

struct Writer {
    const LwsWriterScene& scene;
    Out out;
    double Start() const { return scene.fps > 0 ? scene.firstFrame / (double)scene.fps : scene.firstFrame / 30.0; }
    double Fps() const { return scene.fps > 0 ? scene.fps : 30.0; }
    // Version 1 keys are frames; version 3 keys are seconds from frame 0.
    double Frame(float time) const { return (time + Start()) * Fps(); }
    double Seconds(float time) const { return time + Start(); }
};

void Motion(Writer& w, const char* keyword, const std::vector<LwsWriterKey>& keys)
{
    if (keys.empty()) return;
    Out& o = w.out;
    if (w.scene.version == 1) {
        o.Line("%s (unnamed)", keyword);
        o.Line("  9");
        o.Line("  %zu", keys.size());
        for (const LwsWriterKey& k : keys) {
            o.Line("  %.9g %.9g %.9g %.9g %.9g %.9g %.9g %.9g %.9g", k.position[0], k.position[1], k.position[2],
                   k.rotation[0] * DEGREES, k.rotation[1] * DEGREES, k.rotation[2] * DEGREES, k.scale[0], k.scale[1],
                   k.scale[2]);
            o.Line("  %.9g 0 0.0 0.0 0.0", w.Frame(k.time));
        }
        o.Line("EndBehavior 1");
        return;
    }
    o.Line("%s", keyword);
    o.Line("NumChannels 9");
    for (int c = 0; c < 9; c++) {
        o.Line("Channel %d", c);
        o.Line("{ Envelope");
        o.Line("  %zu", keys.size());
        for (const LwsWriterKey& k : keys) {
            const float value = c < 3 ? k.position[c] : c < 6 ? k.rotation[c - 3] : k.scale[c - 6];
            o.Line("  Key %.9g %.9g 0 0 0 0 0 0 0", value, w.Seconds(k.time));
        }
        o.Line("  Behaviors 1 1");
        o.Line("}");
    }
}

void Envelope(Writer& w, const std::vector<LwsWriterEnvelopeKey>& keys)
{
    Out& o = w.out;
    if (w.scene.version == 1) {
        o.Line("  1");
        o.Line("  %zu", keys.size());
        for (const LwsWriterEnvelopeKey& k : keys) {
            o.Line("  %.9g", k.value);
            o.Line("  %.9g 0 0.0 0.0 0.0", w.Frame(k.time));
        }
        o.Line("EndBehavior 1");
        return;
    }
    o.Line("{ Envelope");
    o.Line("  %zu", keys.size());
    for (const LwsWriterEnvelopeKey& k : keys) o.Line("  Key %.9g %.9g 0 0 0 0 0 0 0", k.value, w.Seconds(k.time));
    o.Line("  Behaviors 1 1");
    o.Line("}");
}

void Colour(Writer& w, const char* keyword, const float* c)
{
    if (w.scene.version == 1)
        w.out.Line("%s %d %d %d", keyword, (int)std::lround(c[0] * 255), (int)std::lround(c[1] * 255),
                   (int)std::lround(c[2] * 255));
    else
        w.out.Line("%s %.9g %.9g %.9g", keyword, c[0], c[1], c[2]);
}

void Parent(Writer& w, const LwsWriterItem& item)
{
    if (item.parentKind == LWS_PARENT_NONE) return;
    if (w.scene.version == 1) {
        w.out.Line("ParentObject %d", item.parentIndex + 1);
        return;
    }
    unsigned code = (unsigned)item.parentIndex & 0xFFFF;
    if (item.parentKind == LWS_PARENT_BONE) code |= ((unsigned)item.parentBone & 0xFFF) << 16;
    code |= (unsigned)item.parentKind << 28;
    w.out.Line("ParentItem %X", code);
}

void Bone(Writer& w, const LwsWriterBone& b, int itemIndex)
{
    Out& o = w.out;
    o.Line("AddBone");
    o.Line("BoneName %s", b.name.c_str());
    o.Line("BoneActive %d", b.active ? 1 : 0);
    o.Line("BoneRestPosition %.9g %.9g %.9g", b.restPosition[0], b.restPosition[1], b.restPosition[2]);
    o.Line("BoneRestDirection %.9g %.9g %.9g", b.restDirection[0] * DEGREES, b.restDirection[1] * DEGREES,
           b.restDirection[2] * DEGREES);
    o.Line("BoneRestLength %.9g", b.restLength);
    o.Line("ScaleBoneStrength %d", b.scaleStrength ? 1 : 0);
    o.Line("BoneStrength %.9g", b.strength);
    if (b.falloffType) o.Line("BoneFalloffType %d", b.falloffType);
    if (!b.weightMap.empty()) o.Line("BoneWeightMapName %s", b.weightMap.c_str());
    if (b.parent >= 0) {
        if (w.scene.version == 1)
            o.Line("ParentObject %d", b.parent + 1);
        else
            o.Line("ParentItem %X", 0x40000000u | ((unsigned)b.parent & 0xFFF) << 16 | ((unsigned)itemIndex & 0xFFFF));
    }
    Motion(w, "BoneMotion", b.keys);
}

void Item(Writer& w, const LwsWriterItem& item, int index)
{
    Out& o = w.out;
    const int v1 = w.scene.version == 1;
    switch (item.kind) {
    case LwsWriterItem::NUL: o.Line("AddNullObject %s", item.name.c_str()); break;
    case LwsWriterItem::OBJECT:
        if (v1)
            o.Line("LoadObject %s", item.name.c_str());
        else
            o.Line("LoadObjectLayer %d %s", item.layer, item.name.c_str());
        break;
    case LwsWriterItem::LIGHT: o.Line("AddLight"); break;
    case LwsWriterItem::CAMERA: o.Line(v1 ? "ShowCamera 1 0" : "AddCamera"); break;
    }
    if (item.kind == LwsWriterItem::LIGHT && !item.lightName.empty()) o.Line("LightName %s", item.lightName.c_str());
    const char* motion = item.kind == LwsWriterItem::LIGHT    ? "LightMotion"
                         : item.kind == LwsWriterItem::CAMERA ? "CameraMotion"
                                                              : "ObjectMotion";
    Motion(w, motion, item.keys);
    if (!item.dissolve.empty()) {
        o.Line(v1 ? "ObjDissolve (envelope)" : "ObjectDissolve (envelope)");
        Envelope(w, item.dissolve);
    }
    if (item.kind == LwsWriterItem::LIGHT) {
        Colour(w, "LightColor", item.lightColour);
        if (!v1 && !item.intensityEnvelope.empty()) {
            o.Line("LightIntensity (envelope)");
            Envelope(w, item.intensityEnvelope);
        } else {
            o.Line("LightIntensity %.9g", item.intensity);
        }
        o.Line("LightType %d", item.lightType);
        if (item.falloffType) o.Line("LightFalloffType %d", item.falloffType);
        o.Line("LightRange %.9g", item.range);
        o.Line("LightConeAngle %.9g", item.coneAngle);
        o.Line("LightEdgeAngle %.9g", item.edgeAngle);
    }
    if (item.kind == LwsWriterItem::CAMERA) o.Line("ZoomFactor %.9g", item.zoom);
    Parent(w, item);
    if (item.hasPivot) o.Line("PivotPosition %.9g %.9g %.9g", item.pivot[0], item.pivot[1], item.pivot[2]);
    if (item.hasPivotRotation)
        o.Line("PivotRotation %.9g %.9g %.9g", item.pivotRotation[0] * DEGREES, item.pivotRotation[1] * DEGREES,
               item.pivotRotation[2] * DEGREES);
    for (const LwsWriterBone& b : item.bones) Bone(w, b, index);
    o.Line("%s", "");
}

}  // namespace

std::string LwsWriter_Write(const LwsWriterScene& scene)
{
    Writer w{scene, {}};
    Out& o = w.out;
    o.Line("LWSC");
    o.Line("%d", scene.version);
    o.Line("%s", "");
    o.Line("FirstFrame %d", scene.firstFrame);
    o.Line("LastFrame %d", scene.lastFrame);
    o.Line("PreviewFirstFrame %d", scene.firstFrame);
    o.Line("PreviewLastFrame %d", scene.lastFrame);
    if (scene.fps > 0) o.Line("FramesPerSecond %.9g", scene.fps);
    o.Line("%s", "");
    Colour(w, "AmbientColor", scene.ambient);
    o.Line("AmbientIntensity %.9g", scene.ambientIntensity);
    o.Line("%s", "");
    for (size_t i = 0; i < scene.items.size(); i++) Item(w, scene.items[i], (int)i);
    return o.text;
}
