// LightWave scene writer: builds ".lws" text (version 1 or 3) from a plain
// description, for the data tools and the tests.
//
// Layout written: "LWSC", the version, the frame range, "FramesPerSecond"
// (left out when fps <= 0), the ambient light, then one block per item ended
// by an empty line. Item lines are not indented; the lines of motions and
// envelopes are, as the reader expects. Within an item the writer puts its
// parent and pivot before its bones, since after "AddBone" those keywords
// belong to the bone.
//
// Version differences handled here: rotations are given in radians and
// written in degrees for version-1 motions (version 3 keeps radians); key
// times are given in seconds and written as frames (time x fps) for version
// 1; colours are 0..1 and written as bytes for version 1; parents of
// version 1 name raw item numbers only. Object parents refer to raw item
// indices, so write every null and object before any light or camera.
#pragma once

#include <string>
#include <vector>

struct LwsWriterKey {
    float time = 0;                    // seconds from the first frame
    float position[3] = {0, 0, 0};
    float rotation[3] = {0, 0, 0};     // heading, pitch, bank in radians
    float scale[3] = {1, 1, 1};
};

struct LwsWriterEnvelopeKey {
    float value;
    float time;  // seconds from the first frame
};

enum LwsWriterParent {
    LWS_PARENT_NONE = 0,
    LWS_PARENT_ITEM = 1,    // raw item index
    LWS_PARENT_LIGHT = 2,   // n-th light
    LWS_PARENT_CAMERA = 3,  // n-th camera
    LWS_PARENT_BONE = 4,    // bone `parentBone` of item `parentIndex`
};

struct LwsWriterBone {
    std::string name;
    bool active = true;
    float restPosition[3] = {0, 0, 0};
    float restDirection[3] = {0, 0, 0};  // heading, pitch, bank in radians
    float restLength = 1.0f;
    float strength = 1.0f;
    bool scaleStrength = false;
    int falloffType = 0;  // 1..5; 0: not written
    std::string weightMap;
    int parent = -1;      // bone of the same item (0-based), -1 the item
    std::vector<LwsWriterKey> keys;
};

struct LwsWriterItem {
    enum Kind { NUL, OBJECT, LIGHT, CAMERA } kind = NUL;
    std::string name;  // null name, or the object's path
    int layer = 1;
    std::vector<LwsWriterKey> keys;
    std::vector<LwsWriterEnvelopeKey> dissolve;
    LwsWriterParent parentKind = LWS_PARENT_NONE;
    int parentIndex = 0;
    int parentBone = 0;
    bool hasPivot = false;
    float pivot[3] = {0, 0, 0};  // as in the file (the reader negates it)
    bool hasPivotRotation = false;
    float pivotRotation[3] = {0, 0, 0};  // radians
    // Lights.
    std::string lightName;
    float lightColour[3] = {1, 1, 1};
    float intensity = 1.0f;
    std::vector<LwsWriterEnvelopeKey> intensityEnvelope;  // version 3 only
    int lightType = 1;
    float range = 0.0f;
    float coneAngle = 30.0f;  // degrees
    float edgeAngle = 5.0f;
    int falloffType = 0;
    // Cameras.
    float zoom = 3.2f;
    std::vector<LwsWriterBone> bones;
};

struct LwsWriterScene {
    int version = 3;
    int firstFrame = 0;
    int lastFrame = 60;
    float fps = 30.0f;
    float ambient[3] = {1, 1, 1};
    float ambientIntensity = 0.25f;
    std::vector<LwsWriterItem> items;
};

std::string LwsWriter_Write(const LwsWriterScene& scene);
