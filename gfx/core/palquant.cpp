#include "gfx/core/palquant.h"

#include <cstring>

#include "gfx/core/engine.h"
#include "gfx/core/freelist.h"
#include "gfx/core/image.h"

// Grid precision: bits kept per channel.
static constexpr int kPrecision = 5;
static constexpr int kGrid = 1 << kPrecision;
static constexpr int kMaxEntries = 256;

union PaletteQuantiserNode {
    PaletteQuantiserNode *children[16];
    struct {
        // Double precision: a float sum of a million equal values drifts by
        // more than the entry's rounding margin, so a solid texture would
        // come back a shade off.
        double weight;
        double sums[4];    // weighted channel values, scaled to 0..1
        double squares;    // weighted sum of squares
        uint8_t index;     // palette entry, 255 until assigned
        uint8_t assigned;  // index is valid (entry 255 is a real entry too)
    } leaf;
};

// Bit-spread table: bit j of a grid value lands at bit 4 x (D - 1 - j), so the
// most significant kept bit of each channel sits in the lowest four-bit group
// and one group of four bits picks the child at each level of the tree.
static uint32_t sSpread[kGrid];

static uint32_t ColourKey(const uint8_t *c)
{
    const int shift = 8 - kPrecision;
    return sSpread[c[0] >> shift] << 3 | sSpread[c[1] >> shift] << 2 | sSpread[c[2] >> shift] << 1 |
           sSpread[c[3] >> shift];
}

static PaletteQuantiserNode *NewNode(PaletteQuantiser *q)
{
    PaletteQuantiserNode *node = (PaletteQuantiserNode *)FreeList_Alloc(q->nodes);
    if (node) memset(node, 0, sizeof(*node));
    return node;
}

static void *AllocCleared(size_t size) { return Engine_Calloc(1, size); }
static void FreeBlock(void *block)
{
    if (block) Engine_Free(block);
}

int PaletteQuantiser_Create(PaletteQuantiser *q)
{
    for (int i = 0; i < kGrid; i++) {
        uint32_t spread = 0;
        for (int j = 0; j < kPrecision; j++)
            if (i & (1 << j)) spread |= 1u << (4 * (kPrecision - 1 - j));
        sSpread[i] = spread;
    }
    memset(q, 0, sizeof(*q));
    q->boxes = (uint8_t(*)[8])AllocCleared(kMaxEntries * 8);
    q->variances = (float *)AllocCleared(kMaxEntries * sizeof(float));
    q->nodes = FreeList_Create((int32_t)sizeof(PaletteQuantiserNode), 64, 8);
    q->root = q->boxes && q->variances && q->nodes ? NewNode(q) : nullptr;
    if (!q->root) {
        FreeBlock(q->boxes);
        FreeBlock(q->variances);
        if (q->nodes) FreeList_Destroy(q->nodes);
        memset(q, 0, sizeof(*q));
        return 0;
    }
    return 1;
}

// The leaf of a key, created with its path when create is set; null when
// missing (or when memory runs out).
static PaletteQuantiserNode *FindLeaf(PaletteQuantiser *q, uint32_t key, bool create)
{
    PaletteQuantiserNode *node = q->root;
    for (int level = 0; level < kPrecision; level++) {
        PaletteQuantiserNode *&child = node->children[(key >> (4 * level)) & 15];
        if (!child) {
            if (!create) return nullptr;
            child = NewNode(q);
            if (!child) return nullptr;
            if (level == kPrecision - 1) child->leaf.index = 255;
        }
        node = child;
    }
    return node;
}

// The colour of pixel x of a row, or null for depths without colours. A
// 4-bit pixel is the low four bits of its byte (its palette has 16 entries).
static const uint8_t *PixelColour(const Image *image, const uint8_t *row, int32_t x)
{
    if (image->depth == 32) return row + 4 * x;
    if (image->depth == 4 && image->palette) return image->palette + 4 * (row[x] & 15);
    if (image->depth == 8 && image->palette) return image->palette + 4 * row[x];
    return nullptr;
}

int PaletteQuantiser_AddImage(PaletteQuantiser *q, const Image *image, float weight)
{
    if (!image->pixels || (image->depth != 32 && !image->palette)) return 1;
    if (image->depth != 32 && image->depth != 8 && image->depth != 4) return 1;
    for (int32_t y = 0; y < image->height; y++) {
        const uint8_t *row = image->pixels + (size_t)y * image->stride;
        for (int32_t x = 0; x < image->width; x++) {
            const uint8_t *c = PixelColour(image, row, x);
            PaletteQuantiserNode *leaf = FindLeaf(q, ColourKey(c), true);
            if (!leaf) return 0;
            double squares = 0.0;
            leaf->leaf.weight += weight;
            for (int i = 0; i < 4; i++) {
                const double v = (c[i] / 255.0) * weight;
                leaf->leaf.sums[i] += v;
                squares += v * v;
            }
            leaf->leaf.squares += weight * squares;
        }
    }
    return 1;
}

namespace {

struct Leaf {
    PaletteQuantiserNode *node;
    uint8_t point[4];  // grid coordinates per channel
};

struct Moments {
    double weight = 0.0;
    double sums[4] = {0.0, 0.0, 0.0, 0.0};
    double squares = 0.0;

    void Add(const PaletteQuantiserNode *n)
    {
        weight += n->leaf.weight;
        for (int i = 0; i < 4; i++) sums[i] += n->leaf.sums[i];
        squares += n->leaf.squares;
    }
    double SumsSquared() const
    {
        return sums[0] * sums[0] + sums[1] * sums[1] + sums[2] * sums[2] + sums[3] * sums[3];
    }
    double Variance() const { return weight > 0.0 ? squares - SumsSquared() / weight : 0.0; }
};

// Collects the leaves depth first (children 0 to 15 at every level) with the
// grid point of each: a child's cell adds half the parent's cell size on the
// channels whose bit is set in the child index (8 -> channel 0 ... 1 -> 3).
void CollectLeaves(PaletteQuantiserNode *node, int level, const uint8_t origin[4], Leaf *out, int32_t *count)
{
    if (level == kPrecision) {
        Leaf &leaf = out[(*count)++];
        leaf.node = node;
        memcpy(leaf.point, origin, 4);
        return;
    }
    const int half = kGrid >> (level + 1);
    for (int i = 0; i < 16; i++) {
        PaletteQuantiserNode *child = node->children[i];
        if (!child) continue;
        uint8_t next[4];
        for (int c = 0; c < 4; c++) next[c] = (uint8_t)(origin[c] + ((i & (8 >> c)) ? half : 0));
        CollectLeaves(child, level + 1, next, out, count);
    }
}

int32_t CountLeaves(const PaletteQuantiserNode *node, int level)
{
    if (level == kPrecision) return 1;
    int32_t n = 0;
    for (const PaletteQuantiserNode *child : node->children)
        if (child) n += CountLeaves(child, level + 1);
    return n;
}

void FreeTree(PaletteQuantiser *q, PaletteQuantiserNode *node, int level)
{
    if (level < kPrecision)
        for (PaletteQuantiserNode *child : node->children)
            if (child) FreeTree(q, child, level + 1);
    FreeList_Free(q->nodes, node);
}

void EntryColour(uint8_t *entry, const double sums[4], double weight)
{
    for (int i = 0; i < 4; i++) {
        double v = weight > 0.0 ? sums[i] * 255.9999 / weight : 0.0;
        entry[i] = v >= 255.0 ? 255 : v <= 0.0 ? 0 : (uint8_t)v;
    }
}

// The best cut of a box on one channel: the position whose two parts have the
// largest |s1|^2 / w1 + |s2|^2 / w2. Positions where either part is empty have
// no score and are passed over; the search stops at the first score below the
// previous scored one, since the score rises to one peak for a box's usual
// colour distribution.
double BestCut(const Leaf *leaves, int32_t count, const uint8_t *box, int channel, int *cut)
{
    Moments slices[kGrid];
    Moments total;
    for (int32_t i = 0; i < count; i++) {
        slices[leaves[i].point[channel]].Add(leaves[i].node);
        total.Add(leaves[i].node);
    }
    double best = 0.0, previous = -1.0;
    Moments below;
    for (int p = box[channel]; p < box[4 + channel]; p++) {
        if (p > box[channel]) {
            const Moments &s = slices[p - 1];
            below.weight += s.weight;
            for (int i = 0; i < 4; i++) below.sums[i] += s.sums[i];
        }
        double w2 = total.weight - below.weight;
        if (below.weight <= 0.0 || w2 <= 0.0) continue;
        double s2 = 0.0;
        for (int i = 0; i < 4; i++) {
            double d = total.sums[i] - below.sums[i];
            s2 += d * d;
        }
        double score = below.SumsSquared() / below.weight + s2 / w2;
        if (score > best) {
            best = score;
            *cut = p;
        }
        if (score < previous) break;
        previous = score;
    }
    return best;
}

}  // namespace

int32_t PaletteQuantiser_MakePalette(uint8_t *palette, int32_t count, PaletteQuantiser *q)
{
    if (count > kMaxEntries) count = kMaxEntries;
    if (count < 0) count = 0;
    memset(palette, 0, (size_t)count * 4);
    int32_t leafCount = CountLeaves(q->root, 0);
    Leaf *leaves = (Leaf *)Engine_Malloc(sizeof(Leaf) * (size_t)(leafCount ? leafCount : 1));
    if (!leaves) return 0;
    int32_t n = 0;
    const uint8_t origin[4] = {0, 0, 0, 0};
    CollectLeaves(q->root, 0, origin, leaves, &n);

    int32_t made;
    if (leafCount <= count) {
        for (int32_t i = 0; i < leafCount; i++) {
            PaletteQuantiserNode *node = leaves[i].node;
            const double sums[4] = {node->leaf.sums[0], node->leaf.sums[1], node->leaf.sums[2], node->leaf.sums[3]};
            EntryColour(palette + 4 * i, sums, node->leaf.weight);
            node->leaf.index = (uint8_t)i;
            node->leaf.assigned = 1;
        }
        made = leafCount;
    } else {
        // Greedy variance splitting. The leaves of each box are kept as one
        // contiguous range of the leaf array, so a split only partitions the
        // range of the box it cuts.
        int32_t begin[kMaxEntries], end[kMaxEntries];
        memset(q->boxes, 0, kMaxEntries * 8);
        memset(q->variances, 0, kMaxEntries * sizeof(float));
        for (int c = 0; c < 4; c++) q->boxes[0][4 + c] = kGrid;
        begin[0] = 0;
        end[0] = leafCount;
        Moments all;
        for (int32_t i = 0; i < leafCount; i++) all.Add(leaves[i].node);
        q->variances[0] = (float)all.Variance();
        int32_t boxes = 1;
        while (boxes < count) {
            int32_t chosen = -1;
            float most = 0.0f;
            for (int32_t b = 0; b < boxes; b++)
                if (q->variances[b] > most) {
                    most = q->variances[b];
                    chosen = b;
                }
            if (chosen < 0) break;
            const Leaf *range = leaves + begin[chosen];
            int32_t rangeCount = end[chosen] - begin[chosen];
            int bestChannel = -1, bestCut = 0;
            double bestScore = 0.0;
            for (int c = 0; c < 4; c++) {
                int cut = 0;
                double score = BestCut(range, rangeCount, q->boxes[chosen], c, &cut);
                if (score > bestScore) {
                    bestScore = score;
                    bestChannel = c;
                    bestCut = cut;
                }
            }
            if (bestChannel < 0) {
                q->variances[chosen] = 0.0f;
                continue;
            }
            // Stable partition of the chosen range: leaves below the cut first.
            Leaf *first = leaves + begin[chosen];
            Leaf *scratch = (Leaf *)Engine_Malloc(sizeof(Leaf) * (size_t)rangeCount);
            if (!scratch) break;
            int32_t lower = 0, upper = 0;
            for (int32_t i = 0; i < rangeCount; i++)
                if (first[i].point[bestChannel] < bestCut) first[lower++] = first[i];
                else scratch[upper++] = first[i];
            memcpy(first + lower, scratch, sizeof(Leaf) * (size_t)upper);
            Engine_Free(scratch);
            memcpy(q->boxes[boxes], q->boxes[chosen], 8);
            q->boxes[chosen][4 + bestChannel] = (uint8_t)bestCut;
            q->boxes[boxes][bestChannel] = (uint8_t)bestCut;
            begin[boxes] = begin[chosen] + lower;
            end[boxes] = end[chosen];
            end[chosen] = begin[boxes];
            const int32_t both[2] = {chosen, boxes};
            for (int32_t b : both) {
                Moments m;
                for (int32_t i = begin[b]; i < end[b]; i++) m.Add(leaves[i].node);
                q->variances[b] = (float)m.Variance();
            }
            boxes++;
        }
        for (int32_t b = 0; b < count; b++) {
            Moments m;
            if (b < boxes)
                for (int32_t i = begin[b]; i < end[b]; i++) {
                    m.Add(leaves[i].node);
                    leaves[i].node->leaf.index = (uint8_t)b;
                    leaves[i].node->leaf.assigned = 1;
                }
            EntryColour(palette + 4 * b, m.sums, m.weight);
        }
        made = count;
    }
    Engine_Free(leaves);
    q->paletteCount = made;
    memcpy(q->palette, palette, (size_t)made * 4);
    return made;
}

// The entry nearest to a colour that has no leaf (never added).
static uint8_t NearestEntry(const PaletteQuantiser *q, const uint8_t *c)
{
    int32_t best = 0;
    int32_t bestDistance = INT32_MAX;
    for (int32_t i = 0; i < q->paletteCount; i++) {
        int32_t d = 0;
        for (int k = 0; k < 4; k++) {
            int32_t e = (int32_t)c[k] - q->palette[4 * i + k];
            d += e * e;
        }
        if (d < bestDistance) {
            bestDistance = d;
            best = i;
        }
    }
    return (uint8_t)best;
}

int PaletteQuantiser_MapImage(uint8_t *pixels, int32_t stride, int32_t depth, int pack, PaletteQuantiser *q,
                              const Image *source)
{
    if (!pixels || !source->pixels) return 0;
    if (source->depth != 32 && ((source->depth != 4 && source->depth != 8) || !source->palette)) return 0;
    const bool packed = depth == 4 && pack;
    for (int32_t y = 0; y < source->height; y++) {
        const uint8_t *row = source->pixels + (size_t)y * source->stride;
        uint8_t *out = pixels + (size_t)y * stride;
        for (int32_t x = 0; x < source->width; x++) {
            const uint8_t *c = PixelColour(source, row, x);
            PaletteQuantiserNode *leaf = FindLeaf(q, ColourKey(c), false);
            uint8_t index = leaf && leaf->leaf.assigned ? leaf->leaf.index : NearestEntry(q, c);
            if (!packed) out[x] = index;
            else if (x & 1) out[x >> 1] = (uint8_t)((out[x >> 1] & 0x0f) | (index << 4));
            else out[x >> 1] = (uint8_t)((out[x >> 1] & 0xf0) | (index & 0x0f));
        }
    }
    return 1;
}

void PaletteQuantiser_Destroy(PaletteQuantiser *q)
{
    // Destroying the free list releases its blocks whole; only when every
    // entry is its own allocation must each node be given back.
    if (q->root && (Engine_GetInitFlags() & ENGINE_INIT_NO_FREELIST_BLOCKS)) FreeTree(q, q->root, 0);
    if (q->nodes) FreeList_Destroy(q->nodes);
    FreeBlock(q->boxes);
    FreeBlock(q->variances);
    memset(q, 0, sizeof(*q));
}
