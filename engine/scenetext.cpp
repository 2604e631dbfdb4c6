// The ".lws" parser. Lines of at most 1024 characters are split at white
// space into at most 20 tokens; an indented line yields an empty first token.
// The parser is outside an item, inside an item, or inside a motion or an
// envelope of the current item. An empty line ends the current item (the
// item counts only then); a new item's first line also ends the one before.
//
// Words outside and inside items are compared exactly (token 0); the words
// of version-3 motions and the values of motion and envelope lines are taken
// from the first non-empty token, indented or not.
//
// Key times are computed while the keys are read, from the start and fps of
// the header lines before the first item: a missing or non-positive fps
// means 30. Dissolve envelopes keep the file's values (alpha = 1 - value is
// taken once, at playback); their times are computed like motion key times.
#include "engine/scenetext.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/colour.h"
#include "app/file.h"
#include "common/memory.h"
#include "common/strings.h"
#include "engine/loaderror.h"
#include "engine/scene.h"
#include "engine/scenedata.h"

namespace {

constexpr int MAX_LINE = 1024;
constexpr int MAX_TOKENS = 20;
constexpr float DEFAULT_FPS = 30.0f;
constexpr float DEG_TO_RAD = (float)(M_PI / 180.0);

enum Mode { OUTSIDE, ITEM, MOTION, ENVELOPE };

struct Line {
    char raw[MAX_LINE + 2];   // the line without its line end
    char work[MAX_LINE + 2];  // cut into tokens
    char* token[MAX_TOKENS];
    int count;
    int first;  // index of the first non-empty token, count when none
    const char* Word(int i) const { return first + i < count ? token[first + i] : ""; }
    const char* Token(int i) const { return i < count ? token[i] : ""; }
};

struct Motion {
    SceneKey** keys;
    uint16_t* count;
    uint32_t capacity;
    int line;         // lines seen after the keyword
    int total;        // version 1: keys announced
    int pendingValues;
    SceneKey pending;
    int channels;     // version 3
    int channel;
    int inEnvelope;
    int envelopeLine;
};

struct Envelope {
    float** values;
    float** times;
    uint16_t* count;
    int line;
    int total;
    int pendingValue;
    float value;
    int dissolve;  // version 1 values are clamped to 0..1
};

struct Parser {
    Scene* scene;
    int version;
    Mode mode;
    int firstFrame, lastFrame;
    int fpsSet;
    int32_t item;   // index of the open item, -1 none
    int32_t bone;   // current bone of the open item, -1 none
    uint32_t itemFirstBone;  // bone count when the open item started
    int itemCountedCamera, itemCountedLight;
    Motion motion;
    Envelope envelope;
};

int Fail(const char* format, const char* detail = "")
{
    LoadError_Set(format, detail);
    return 0;
}

int Same(const char* a, const char* b) { return strcmp(a, b) == 0; }

int SameNoCase(const char* a, const char* b)
{
    for (; *a && *b; a++, b++) {
        char x = *a, y = *b;
        if (x >= 'A' && x <= 'Z') x = (char)(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = (char)(y - 'A' + 'a');
        if (x != y) return 0;
    }
    return *a == *b;
}

float Number(const char* text) { return (float)strtod(text, nullptr); }
int Integer(const char* text) { return (int)strtol(text, nullptr, 10); }

// Reads one line: 1, 0 at the end of the file, -1 for a line longer than
// 1024 characters.
int ReadLine(void* file, Line* line)
{
    if (!File_Gets(line->raw, sizeof line->raw, file)) return 0;
    size_t n = strlen(line->raw);
    const int ended = n > 0 && line->raw[n - 1] == '\n';
    if (!ended && n >= (size_t)MAX_LINE + 1 && !File_Eof(file)) return -1;
    while (n > 0 && (line->raw[n - 1] == '\n' || line->raw[n - 1] == '\r')) line->raw[--n] = 0;
    memcpy(line->work, line->raw, n + 1);
    line->count = String_Tokenise(line->work, line->token, MAX_TOKENS);
    if (line->count > MAX_TOKENS) line->count = MAX_TOKENS;
    line->first = 0;
    while (line->first < line->count && !line->token[line->first][0]) line->first++;
    return 1;
}

void ComputeTiming(Parser* p, float fps)
{
    Scene* s = p->scene;
    s->fps = fps > 0.0f ? fps : DEFAULT_FPS;
    s->start = p->firstFrame / s->fps;
    s->duration = p->lastFrame / s->fps - s->start;
    p->fpsSet = 1;
}

// Time of a key: frames for version 1, seconds for version 3; relative to
// the start either way.
int KeyTime(Parser* p, const char* text, float* time)
{
    const float v = Number(text);
    *time = (p->version == 1 ? v / p->scene->fps : v) - p->scene->start;
    if (!std::isfinite(*time)) return Fail("key time \"%s\" is not a number", text);
    return 1;
}

SceneItem* Item(Parser* p) { return &p->scene->items[p->item]; }
SceneRecord* Record(Parser* p) { return &p->scene->records[p->item]; }

uint32_t PackColour(Parser* p, const Line& line)
{
    if (p->version == 1) {
        int c[3];
        for (int i = 0; i < 3; i++) {
            c[i] = Integer(line.Token(1 + i));
            c[i] = c[i] < 0 ? 0 : c[i] > 255 ? 255 : c[i];
        }
        return Colour_FromBytes((uint8_t)c[0], (uint8_t)c[1], (uint8_t)c[2]);
    }
    return Colour_FromRGBFloats(Number(line.Token(1)), Number(line.Token(2)), Number(line.Token(3)));
}

// ---- items ----

int GrowItems(Parser* p)
{
    Scene* s = p->scene;
    if (s->itemCount < s->itemCapacity) return 1;
    if (s->itemCapacity > 0xFFFF - SCENE_ITEM_STEP) return Fail("more than 65535 items");
    const uint32_t capacity = s->itemCapacity + SCENE_ITEM_STEP;
    SceneItem* items = (SceneItem*)Mem_Recalloc(s->items, 16, capacity * sizeof(SceneItem));
    if (Mem_GetSize(items) < capacity * sizeof(SceneItem)) return Fail("out of memory");
    s->items = items;
    SceneRecord* records = (SceneRecord*)Mem_Recalloc(s->records, 16, capacity * sizeof(SceneRecord));
    if (Mem_GetSize(records) < capacity * sizeof(SceneRecord)) return Fail("out of memory");
    s->records = records;
    uint32_t* codes = (uint32_t*)Mem_Recalloc(s->parentCodes, 8, capacity * sizeof(uint32_t));
    if (Mem_GetSize(codes) < capacity * sizeof(uint32_t)) return Fail("out of memory");
    s->parentCodes = codes;
    s->itemCapacity = (uint16_t)capacity;
    return 1;
}

void EndItem(Parser* p)
{
    if (p->item >= 0) p->scene->itemCount++;
    p->item = -1;
    p->bone = -1;
    p->mode = OUTSIDE;
}

int StartItem(Parser* p, uint16_t kind, const char* name, size_t length)
{
    Scene* s = p->scene;
    EndItem(p);
    if (!p->fpsSet) ComputeTiming(p, 0.0f);
    if (!GrowItems(p)) return 0;
    const uint32_t index = s->itemCount;
    SceneRecord* r = &s->records[index];
    SceneItem* item = &s->items[index];
    *r = SceneRecord{};
    *item = SceneItem{};
    r->nameOffset = SceneData_AddName(&s->itemNames, &s->itemNameSize, &s->itemNameCapacity, name, length);
    if (r->nameOffset == SCENE_NONE) return Fail("out of memory");
    r->lightNameOffset = SCENE_NONE;
    r->parentBone = SCENE_NONE;
    r->lightColour = 0xFFFFFFFFu;
    r->lightIntensity = 1.0f;
    item->kind = kind;
    s->parentCodes[index] = 0;
    // Duplicate number: one more than the latest earlier item of the same
    // name and the same null bit.
    const char* mine = s->itemNames + r->nameOffset;
    for (uint32_t j = index; j-- > 0;) {
        if ((s->items[j].kind & SCENE_ITEM_NULL) != (kind & SCENE_ITEM_NULL)) continue;
        if (!Same(s->itemNames + s->records[j].nameOffset, mine)) continue;
        r->duplicate = s->records[j].duplicate + 1;
        break;
    }
    if (kind & SCENE_ITEM_SOUND) s->soundNullCount++;
    p->itemCountedCamera = p->itemCountedLight = 0;
    if (kind & SCENE_ITEM_CAMERA) {
        if (s->firstCamera < 0) s->firstCamera = (int32_t)index, p->itemCountedCamera = 2;
        s->cameraCount++;
        p->itemCountedCamera |= 1;
    }
    if (kind & SCENE_ITEM_LIGHT) {
        if (s->firstLight < 0) s->firstLight = (int32_t)index, p->itemCountedLight = 2;
        s->lightCount++;
        p->itemCountedLight |= 1;
    }
    p->item = (int32_t)index;
    p->itemFirstBone = s->boneCount;
    p->bone = -1;
    p->mode = ITEM;
    return 1;
}

// An item the file never ended with an empty line does not count: its data
// and what it added to the counts are taken back.
void DropOpenItem(Parser* p)
{
    Scene* s = p->scene;
    if (p->item < 0) return;
    SceneItem* item = Item(p);
    Mem_Free(item->keys);
    Mem_Free(item->dissolveValues);
    Mem_Free(item->dissolveTimes);
    Mem_Free(item->intensityValues);
    Mem_Free(item->intensityTimes);
    if (item->kind & SCENE_ITEM_SOUND) s->soundNullCount--;
    *item = SceneItem{};
    if (p->itemCountedCamera & 1) s->cameraCount--;
    if (p->itemCountedCamera & 2) s->firstCamera = -1;
    if (p->itemCountedLight & 1) s->lightCount--;
    if (p->itemCountedLight & 2) s->firstLight = -1;
    while (s->boneCount > p->itemFirstBone) {
        SceneBone* b = &s->bones[--s->boneCount];
        Mem_Free(b->keys);
        Mem_Free(b->name);
        *b = SceneBone{};
    }
    p->item = -1;
}

const char* AfterLastOf(const char* path, char separator)
{
    const char* s = strrchr(path, separator);
    return s ? s + 1 : path;
}

// The object item's name: the last part of the path without ".lwo" and
// what follows it.
size_t ObjectName(const char* part, const char** name)
{
    *name = part;
    size_t length = strlen(part);
    for (size_t i = 0; i + 4 <= length; i++) {
        const char* at = part + i;
        if (at[0] == '.' && (at[1] | 0x20) == 'l' && (at[2] | 0x20) == 'w' && (at[3] | 0x20) == 'o') {
            length = i;
            break;
        }
    }
    return length;
}

// The rest of the raw line after `skip` words and one blank each.
const char* RestOfLine(const char* raw, int words)
{
    const char* at = raw;
    for (int w = 0; w < words; w++) {
        while (*at && *at != ' ' && *at != '\t') at++;
        if (*at) at++;
    }
    return at;
}

int StartObject(Parser* p, const Line& line)
{
    const char* path;
    char separator;
    if (p->version == 1) {
        path = RestOfLine(line.raw, 1);
        separator = '\\';
    } else {
        path = RestOfLine(line.raw, 2);
        separator = '/';
    }
    const char* name;
    const size_t length = ObjectName(AfterLastOf(path, separator), &name);
    return StartItem(p, 0, name, length);
}

int StartNull(Parser* p, const Line& line)
{
    const char* name = RestOfLine(line.raw, 1);
    uint16_t kind = SCENE_ITEM_NULL;
    if (strncmp(name, "SFX", 3) == 0 && name[3] == ',') kind |= SCENE_ITEM_SOUND;
    return StartItem(p, kind, name, strlen(name));
}

// ---- bones ----

SceneBone* CurrentBone(Parser* p) { return p->bone >= 0 ? &p->scene->bones[p->bone] : nullptr; }

int AddBone(Parser* p)
{
    Scene* s = p->scene;
    if (!s->bones) {
        s->bones = (SceneBone*)Mem_Calloc(SCENE_MAX_BONES * sizeof(SceneBone), 16);
        s->boneParents = (uint32_t*)Mem_Calloc(SCENE_MAX_BONES * sizeof(uint32_t), 8);
        if (!s->bones || !s->boneParents) return Fail("out of memory");
    }
    if (s->boneCount >= SCENE_MAX_BONES) return Fail("more than 100 bones");
    const uint32_t index = s->boneCount++;
    SceneBone* b = &s->bones[index];
    *b = SceneBone{};
    b->weightMapOffset = SCENE_NONE;
    b->restLength = 1.0f;
    b->strength = 1.0f;
    b->boneNumber = index - p->itemFirstBone;
    s->boneParents[index] = 0;
    SceneItem* item = Item(p);
    if (!item->firstBone) {
        item->firstBone = b;
    } else {
        SceneBone* last = item->firstBone;
        while (last->next) last = last->next;
        last->next = b;
    }
    p->bone = (int32_t)index;
    return 1;
}

Vec3 Vector(const Line& line, float scale)
{
    return {Number(line.Token(1)) * scale, Number(line.Token(2)) * scale, Number(line.Token(3)) * scale};
}

// ---- motions ----

int StartMotion(Parser* p, SceneKey** keys, uint16_t* count)
{
    Mem_Free(*keys);
    *keys = nullptr;
    *count = 0;
    p->motion = Motion{};
    p->motion.keys = keys;
    p->motion.count = count;
    p->motion.channel = -1;
    p->mode = MOTION;
    return 1;
}

int ReserveKeys(Motion* m, uint32_t need)
{
    if (need <= m->capacity) return 1;
    if (need > SCENE_MAX_KEYS + 1) return Fail("more than 65534 keys in a motion");
    uint32_t capacity = m->capacity ? m->capacity * 2 : 8;
    if (capacity < need) capacity = need;
    if (capacity > SCENE_MAX_KEYS + 1) capacity = SCENE_MAX_KEYS + 1;
    SceneKey* keys = (SceneKey*)Mem_Realloc(*m->keys, 16, capacity * sizeof(SceneKey));
    if (Mem_GetSize(keys) < capacity * sizeof(SceneKey)) return Fail("out of memory");
    *m->keys = keys;
    m->capacity = capacity;
    return 1;
}

float* Channel(SceneKey* key, int c)
{
    if (c < 3) return &key->position.x + c;
    if (c < 6) return &key->rotation.x + (c - 3);
    return &key->scale.x + (c - 6);
}

// Fills the channels a key lacks: in the first key 1 for scale and 0
// otherwise; later, interpolated between the key before and the next key
// that has the channel, or copied from the key before.
void FillChannels(SceneKey* keys, uint32_t count)
{
    for (int c = 0; c < 9; c++) {
        const uint32_t bit = 1u << c;
        for (uint32_t j = 0; j < count; j++) {
            if (keys[j].mask & bit) continue;
            if (j == 0) {
                *Channel(&keys[0], c) = c >= 6 ? 1.0f : 0.0f;
                continue;
            }
            uint32_t k = j + 1;
            while (k < count && !(keys[k].mask & bit)) k++;
            const float before = *Channel(&keys[j - 1], c);
            if (k == count) {
                *Channel(&keys[j], c) = before;
                continue;
            }
            const float span = keys[k].time - keys[j - 1].time;
            const float u = span != 0.0f ? (keys[j].time - keys[j - 1].time) / span : 0.0f;
            *Channel(&keys[j], c) = before + (*Channel(&keys[k], c) - before) * u;
        }
    }
}

int EndMotion(Parser* p)
{
    Motion* m = &p->motion;
    FillChannels(*m->keys, *m->count);
    // Room for the end key added after the parse.
    if (*m->count && !ReserveKeys(m, (uint32_t)*m->count + 1)) return 0;
    p->mode = ITEM;
    return 1;
}

int MotionLineV1(Parser* p, const Line& line)
{
    Motion* m = &p->motion;
    m->line++;
    if (m->line == 1) return 1;
    if (Same(line.Word(0), "EndBehavior")) return EndMotion(p);
    if (m->line == 2) {
        const long n = strtol(line.Word(0), nullptr, 10);
        if (n < 0 || n > (long)SCENE_MAX_KEYS) return Fail("motion key count %s out of range", line.Word(0));
        m->total = (int)n;
        return ReserveKeys(m, (uint32_t)n + 1);
    }
    if (*m->count >= m->total) return 1;  // lines past the announced keys
    if (!m->pendingValues) {
        SceneKey& k = m->pending;
        k = SceneKey{};
        for (int c = 0; c < 9; c++) {
            const char* word = line.Word(c);
            if (!word[0]) continue;
            *Channel(&k, c) = Number(word) * (c >= 3 && c < 6 ? DEG_TO_RAD : 1.0f);
            k.mask |= 1u << c;
        }
        m->pendingValues = 1;
        return 1;
    }
    m->pendingValues = 0;
    if (!KeyTime(p, line.Word(0), &m->pending.time)) return 0;
    (*m->keys)[(*m->count)++] = m->pending;
    return 1;
}

// A version-3 key of one channel: an equal time fills that key, a later one
// is appended, an earlier one inserted in time order.
int AddChannelKey(Parser* p, int channel, float value, float time)
{
    Motion* m = &p->motion;
    SceneKey* keys = *m->keys;
    uint32_t count = *m->count;
    uint32_t at = count;
    if (count == 0 || time > keys[count - 1].time) {
        at = count;
    } else {
        at = 0;
        while (at < count && keys[at].time < time) at++;
    }
    if (at == count || keys[at].time != time) {
        if (!ReserveKeys(m, count + 1)) return 0;
        keys = *m->keys;
        memmove(&keys[at + 1], &keys[at], (count - at) * sizeof(SceneKey));
        keys[at] = SceneKey{};
        keys[at].time = time;
        *m->count = (uint16_t)(count + 1);
    }
    *Channel(&keys[at], channel) = value;
    keys[at].mask |= 1u << channel;
    return 1;
}

int MotionLineV3(Parser* p, const Line& line)
{
    Motion* m = &p->motion;
    m->line++;
    const char* word = line.Word(0);
    if (m->line == 1) {
        m->channels = Integer(SameNoCase(word, "NumChannels") ? line.Word(1) : word);
        if (m->channels <= 0) return EndMotion(p);
        return 1;
    }
    if (m->inEnvelope) {
        m->envelopeLine++;
        if (m->envelopeLine == 1) return 1;  // the key count
        if (SameNoCase(word, "Behaviors")) {
            m->inEnvelope = 0;
            return 1;
        }
        if (SameNoCase(word, "Key")) {
            float time;
            if (!KeyTime(p, line.Word(2), &time)) return 0;
            if (m->channel < 0 || m->channel > 8) return 1;  // channels the game does not use
            return AddChannelKey(p, m->channel, Number(line.Word(1)), time);
        }
        return 1;
    }
    if (SameNoCase(word, "Channel")) {
        m->channel = Integer(line.Word(1));
    } else if (SameNoCase(word, "{")) {
        m->inEnvelope = 1;
        m->envelopeLine = 0;
    } else if (SameNoCase(word, "}") && m->channel == m->channels - 1) {
        return EndMotion(p);
    }
    return 1;
}

// ---- envelopes ----

int StartEnvelope(Parser* p, float** values, float** times, uint16_t* count, int dissolve)
{
    Mem_Free(*values);
    Mem_Free(*times);
    *values = *times = nullptr;
    *count = 0;
    p->envelope = Envelope{values, times, count, 0, 0, 0, 0.0f, dissolve};
    p->mode = ENVELOPE;
    return 1;
}

int EnvelopeLine(Parser* p, const Line& line)
{
    Envelope* e = &p->envelope;
    e->line++;
    if (e->line == 1) return 1;
    if (p->version == 1 && Same(line.Word(0), "EndBehavior")) {
        p->mode = ITEM;
        return 1;
    }
    if (e->line == 2) {
        const long n = strtol(line.Word(0), nullptr, 10);
        if (n < 0 || n > (long)SCENE_MAX_KEYS) return Fail("envelope key count %s out of range", line.Word(0));
        e->total = (int)n;
        *e->values = (float*)Mem_Calloc(((size_t)n + 1) * sizeof(float), 8);
        *e->times = (float*)Mem_Calloc(((size_t)n + 1) * sizeof(float), 8);
        if (!*e->values || !*e->times) return Fail("out of memory");
        if (p->version == 3 && n == 0) p->mode = ITEM;
        return 1;
    }
    if (p->version == 3) {
        if (e->line >= e->total + 3) {  // the line after the keys ends it
            p->mode = ITEM;
            return 1;
        }
        if (SameNoCase(line.Word(0), "Behaviors")) {
            p->mode = ITEM;
            return 1;
        }
        if (!SameNoCase(line.Word(0), "Key") || *e->count >= e->total) return 1;
        float time;
        if (!KeyTime(p, line.Word(2), &time)) return 0;
        (*e->values)[*e->count] = Number(line.Word(1));
        (*e->times)[(*e->count)++] = time;
        return 1;
    }
    if (*e->count >= e->total) return 1;
    if (!e->pendingValue) {
        float v = Number(line.Word(0));
        if (e->dissolve) v = !(v > 0.0f) ? 0.0f : v > 1.0f ? 1.0f : v;
        e->value = v;
        e->pendingValue = 1;
        return 1;
    }
    e->pendingValue = 0;
    float time;
    if (!KeyTime(p, line.Word(0), &time)) return 0;
    (*e->values)[*e->count] = e->value;
    (*e->times)[(*e->count)++] = time;
    return 1;
}

// ---- lines ----

int HeaderLine(Parser* p, const Line& line)
{
    Scene* s = p->scene;
    const char* key = line.Token(0);
    if (Same(key, "PreviewFirstFrame")) {
        p->firstFrame = Integer(line.Token(1));
    } else if (Same(key, "PreviewLastFrame")) {
        p->lastFrame = Integer(line.Token(1));
    } else if (Same(key, "FramesPerSecond")) {
        ComputeTiming(p, Number(line.Token(1)));
    } else if (Same(key, "AmbientColor")) {
        s->ambient = PackColour(p, line);
    } else if (Same(key, "AmbIntensity") || Same(key, "AmbientIntensity")) {
        s->ambientIntensity = Number(line.Token(1));
    } else if (Same(key, "AddNullObject")) {
        return StartNull(p, line);
    } else if ((p->version == 1 && Same(key, "LoadObject")) || (p->version == 3 && Same(key, "LoadObjectLayer"))) {
        return StartObject(p, line);
    } else if ((p->version == 1 && Same(key, "ShowCamera")) || (p->version == 3 && Same(key, "AddCamera"))) {
        return StartItem(p, SCENE_ITEM_NULL | SCENE_ITEM_CAMERA, "Camera", 6);
    } else if (Same(key, "AddLight")) {
        return StartItem(p, SCENE_ITEM_NULL | SCENE_ITEM_LIGHT, "Light", 5);
    }
    return 1;
}

int IsItemStart(const Parser* p, const char* key)
{
    return Same(key, "AddNullObject") || Same(key, "AddLight") ||
           (p->version == 1 ? Same(key, "LoadObject") || Same(key, "ShowCamera")
                            : Same(key, "LoadObjectLayer") || Same(key, "AddCamera"));
}

int ItemLine(Parser* p, const Line& line)
{
    Scene* s = p->scene;
    const char* key = line.Token(0);
    SceneItem* item = Item(p);
    SceneRecord* r = Record(p);
    SceneBone* bone = CurrentBone(p);
    const int envelope = Same(line.Token(1), "(envelope)");
    if (IsItemStart(p, key)) return HeaderLine(p, line);
    if (Same(key, "ObjectMotion") || (Same(key, "CameraMotion") && (item->kind & SCENE_ITEM_CAMERA)) ||
        (Same(key, "LightMotion") && (item->kind & SCENE_ITEM_LIGHT))) {
        return StartMotion(p, &item->keys, &item->keyCount);
    } else if (Same(key, "BoneMotion")) {
        if (bone) return StartMotion(p, &bone->keys, &bone->keyCount);
    } else if (Same(key, "ObjDissolve") || Same(key, "ObjectDissolve")) {
        if (envelope) return StartEnvelope(p, &item->dissolveValues, &item->dissolveTimes, &item->dissolveCount, 1);
    } else if (Same(key, "LightIntensity")) {
        if (!envelope)
            r->lightIntensity = Number(line.Token(1));
        else if (p->version == 3)
            return StartEnvelope(p, &item->intensityValues, &item->intensityTimes, &item->intensityCount, 0);
    } else if (Same(key, "LightColor")) {
        r->lightColour = PackColour(p, line);
    } else if (Same(key, "LightType")) {
        r->lightType = (uint32_t)Integer(line.Token(1));
    } else if (Same(key, "LightFalloff") || Same(key, "LightFalloffType")) {
        r->falloffType = (uint32_t)Integer(line.Token(1));
    } else if (Same(key, "LightRange")) {
        r->lightRange = Number(line.Token(1));
    } else if (Same(key, "ConeAngle") || Same(key, "LightConeAngle")) {
        r->coneAngle = Number(line.Token(1));
    } else if (Same(key, "EdgeAngle") || Same(key, "LightEdgeAngle")) {
        r->edgeAngle = Number(line.Token(1));
    } else if (Same(key, "LightName")) {
        const char* name = RestOfLine(line.raw, 1);
        r->lightNameOffset = SceneData_AddName(&s->itemNames, &s->itemNameSize, &s->itemNameCapacity, name,
                                               strlen(name));
        if (r->lightNameOffset == SCENE_NONE) return Fail("out of memory");
    } else if (Same(key, "ZoomFactor")) {
        if (item->kind & SCENE_ITEM_CAMERA) s->zoom = Number(line.Token(1));
    } else if (Same(key, "ParentObject")) {
        const uint32_t value = (uint32_t)strtoul(line.Token(1), nullptr, 10);
        if (bone)
            s->boneParents[p->bone] = value == 0 ? 0 : value + p->itemFirstBone;
        else
            s->parentCodes[p->item] = value | 0x10000000u;
    } else if (Same(key, "ParentItem")) {
        const uint32_t value = String_ParseHex(line.Token(1));
        if (bone)
            s->boneParents[p->bone] = (value >> 28) == 1 ? 0 : ((value >> 16) & 0xFFF) + 1 + p->itemFirstBone;
        else
            s->parentCodes[p->item] = value + 1;
    } else if (Same(key, "PivotRotation")) {
        (bone ? bone->pivotRotation : item->pivotRotation) = Vector(line, DEG_TO_RAD);
    } else if (Same(key, "PivotPosition")) {
        (bone ? bone->pivot : item->pivot) = Vector(line, -1.0f);
    } else if (Same(key, "AddBone")) {
        return AddBone(p);
    } else if (bone) {
        if (Same(key, "BoneName")) {
            Mem_Free(bone->name);
            bone->name = String_Dup(RestOfLine(line.raw, 1));
            if (!bone->name) return Fail("out of memory");
        } else if (Same(key, "BoneActive")) {
            if (Integer(line.Token(1))) bone->flags |= 1;
        } else if (Same(key, "BoneRestPosition")) {
            bone->restPosition = Vector(line, 1.0f);
        } else if (Same(key, "BoneRestDirection")) {
            bone->restDirection = Vector(line, DEG_TO_RAD);
        } else if (Same(key, "BoneRestLength")) {
            bone->restLength = Number(line.Token(1));
        } else if (Same(key, "ScaleBoneStrength")) {
            if (Integer(line.Token(1))) bone->flags |= 2;
        } else if (Same(key, "BoneStrength")) {
            bone->strength = Number(line.Token(1));
        } else if (Same(key, "BoneFalloffType")) {
            static const float exponents[5] = {1.0f, 2.0f, 4.0f, 8.0f, 10.0f};
            const int type = Integer(line.Token(1));
            if (type >= 1 && type <= 5) item->falloff = exponents[type - 1];
        } else if (Same(key, "BoneWeightMapName")) {
            const char* name = RestOfLine(line.raw, 1);
            bone->weightMapOffset = SceneData_AddName(&s->weightMapNames, &s->weightMapSize,
                                                      &s->weightMapCapacity, name, strlen(name));
            if (bone->weightMapOffset == SCENE_NONE) return Fail("out of memory");
        }
    }
    return 1;
}

int IsEmpty(const Line& line) { return line.first == line.count; }

// ---- after the parse ----

int Trim(Scene* s)
{
    // Items the file never ended are already dropped; shrink to the count.
    if (s->itemCount == s->itemCapacity) return 1;
    const uint32_t n = s->itemCount;
    if (n == 0) {
        Mem_Free(s->items);
        Mem_Free(s->records);
        Mem_Free(s->parentCodes);
        s->items = nullptr;
        s->records = nullptr;
        s->parentCodes = nullptr;
    } else {
        s->items = (SceneItem*)Mem_Realloc(s->items, 16, n * sizeof(SceneItem));
        s->records = (SceneRecord*)Mem_Realloc(s->records, 16, n * sizeof(SceneRecord));
        s->parentCodes = (uint32_t*)Mem_Realloc(s->parentCodes, 8, n * sizeof(uint32_t));
    }
    s->itemCapacity = (uint16_t)n;
    return 1;
}

void AddEndKey(SceneKey* keys, uint16_t* count, float duration)
{
    if (*count < 2 || !(keys[*count - 1].time < duration)) return;
    keys[*count] = keys[*count - 1];
    keys[*count].time = duration;
    (*count)++;
}

// Parent resolution: the parent
// record of each record as an index (-1 root), with out-of-range, self and
// cyclic parents made roots. Records are then linked last first with head
// insertion, so that root and child lists end up in item order.
void ResolveParents(Scene* s)
{
    const uint32_t n = s->itemCount;
    if (n == 0) {
        s->root = nullptr;
        return;
    }
    int32_t* parent = (int32_t*)Mem_Alloc(n * sizeof(int32_t) * 2, 8);
    int32_t* state = parent ? parent + n : nullptr;
    for (uint32_t i = 0; i < n; i++) {
        SceneRecord* r = &s->records[i];
        r->item = &s->items[i];
        r->parent = r->firstChild = r->next = nullptr;
        r->parentBone = SCENE_NONE;
        const uint32_t code = s->parentCodes[i];
        const uint32_t low = code & 0xFFFF;
        int64_t index = -1;
        switch (code >> 28) {
        case 1: index = (int64_t)low - 1; break;
        case 2: index = s->firstLight < 0 ? -1 : (int64_t)s->firstLight + low - 1; break;
        case 3: index = s->firstCamera < 0 ? -1 : (int64_t)s->firstCamera + low - 1; break;
        case 4:
            index = (int64_t)low - 1;
            r->parentBone = (code >> 16) & 0xFFF;
            break;
        default: break;
        }
        if (code == 0 || index < 0 || index >= n || index == i) {
            index = -1;
            r->parentBone = SCENE_NONE;
        }
        if (parent) parent[i] = (int32_t)index;
    }
    if (!parent) return;  // out of memory: the caller fails on the root
    // Records on a parent cycle become roots: walk each chain, marking the
    // records of the walk in progress (1) and those known to reach a root (2).
    for (uint32_t i = 0; i < n; i++) state[i] = 0;
    for (uint32_t i = 0; i < n; i++) {
        int32_t at = (int32_t)i;
        while (at >= 0 && state[at] == 0) {
            state[at] = 1;
            at = parent[at];
        }
        if (at >= 0 && state[at] == 1) {
            // The walk met itself: cut the cycle at every record on it.
            int32_t c = at;
            do {
                const int32_t next = parent[c];
                parent[c] = -1;
                s->records[c].parentBone = SCENE_NONE;
                c = next;
            } while (c >= 0 && c != at);
        }
        for (at = (int32_t)i; at >= 0 && state[at] == 1; at = parent[at]) state[at] = 2;
    }
    s->root = nullptr;
    for (uint32_t i = n; i-- > 0;) {
        SceneRecord* r = &s->records[i];
        if (parent[i] < 0) {
            r->next = s->root;
            s->root = r;
        } else {
            SceneRecord* up = &s->records[parent[i]];
            r->parent = up;
            r->next = up->firstChild;
            up->firstChild = r;
        }
    }
    Mem_Free(parent);
}

// Bone parents out of range, on themselves or in a loop are cut to the item;
// first-child links follow from the parents.
void ResolveBones(Scene* s)
{
    for (uint32_t b = 0; b < s->boneCount; b++) {
        s->bones[b].firstChild = nullptr;
        uint32_t p = s->boneParents[b];
        if (p > s->boneCount || p == b + 1) s->boneParents[b] = 0;
    }
    for (uint32_t b = 0; b < s->boneCount; b++) {
        uint32_t at = s->boneParents[b], steps = 0;
        while (at != 0 && steps <= s->boneCount) at = s->boneParents[at - 1], steps++;
        if (at != 0) s->boneParents[b] = 0;
    }
    for (uint32_t b = s->boneCount; b-- > 0;) {
        const uint32_t p = s->boneParents[b];
        if (p == 0) continue;
        s->bones[p - 1].firstChild = &s->bones[b];  // the lowest child is written last
    }
}

}  // namespace

int SceneText_ReadVersion(void* file, int* version)
{
    Line line;
    if (ReadLine(file, &line) != 1 || ReadLine(file, &line) != 1) return Fail("scene text ends before its version");
    const int v = Integer(line.Word(0));
    if (v != 1 && v != 3) return Fail("scene version \"%s\" is neither 1 nor 3", line.Word(0));
    *version = v;
    return 1;
}

int SceneText_Parse(Scene* scene, void* file, int version)
{
    Parser p = {};
    p.scene = scene;
    p.version = version;
    p.item = p.bone = -1;
    scene->firstCamera = scene->firstLight = -1;
    Line* line = (Line*)Mem_Alloc(sizeof(Line), 8);
    int ok = line != nullptr;
    if (!ok) Fail("out of memory");
    int status;
    while (ok && (status = ReadLine(file, line)) != 0) {
        if (status < 0) {
            ok = Fail("scene line longer than 1024 characters");
            break;
        }
        if (IsEmpty(*line)) {
            if (p.mode == MOTION || p.mode == ENVELOPE) {
                // A motion cut short by an empty line ends with the item.
                if (p.mode == MOTION) ok = EndMotion(&p);
            }
            EndItem(&p);
            continue;
        }
        switch (p.mode) {
        case OUTSIDE: ok = HeaderLine(&p, *line); break;
        case ITEM: ok = ItemLine(&p, *line); break;
        case MOTION: ok = version == 1 ? MotionLineV1(&p, *line) : MotionLineV3(&p, *line); break;
        case ENVELOPE: ok = EnvelopeLine(&p, *line); break;
        }
    }
    Mem_Free(line);
    if (ok && (p.mode == MOTION || p.mode == ENVELOPE))
        ok = Fail("scene text ends inside %s", p.mode == MOTION ? "a motion" : "an envelope");
    if (!ok) {
        SceneData_Free(scene);
        return 0;
    }
    DropOpenItem(&p);
    if (!p.fpsSet) ComputeTiming(&p, 0.0f);
    Trim(scene);
    for (uint32_t i = 0; i < scene->itemCount; i++) {
        SceneItem* item = &scene->items[i];
        if (item->keys) AddEndKey(item->keys, &item->keyCount, scene->duration);
        if (item->dissolveCount >= 2 && item->dissolveTimes[item->dissolveCount - 1] < scene->duration) {
            item->dissolveValues[item->dissolveCount] = item->dissolveValues[item->dissolveCount - 1];
            item->dissolveTimes[item->dissolveCount++] = scene->duration;
        }
    }
    for (uint32_t b = 0; b < scene->boneCount; b++)
        if (scene->bones[b].keys) AddEndKey(scene->bones[b].keys, &scene->bones[b].keyCount, scene->duration);
    ResolveParents(scene);
    ResolveBones(scene);
    if (scene->itemCount && !scene->root) {
        SceneData_Free(scene);
        return Fail("out of memory");
    }
    return 1;
}
