// The kernel's per-frame hot paths: hierarchy sync, point and matrix
// transforms, chunk stream reads.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "gfx/core/engine.h"
#include "gfx/core/error.h"
#include "gfx/core/frame.h"
#include "gfx/core/matrix.h"
#include "gfx/core/stream.h"
#include "gfx/core/vector.h"

namespace {

// A driver that accepts every lifecycle request.
int32_t Request(int32_t code, void* out, void*, int32_t);
const EngineDevice kRecord = {1.0f, Request, 0.0f, 1.0f, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, {}};
int32_t Request(int32_t code, void* out, void*, int32_t)
{
    switch (code) {
    case REQ_GET_DEVICE:
        *(EngineDevice*)out = kRecord;
        return 1;
    case REQ_OPEN:
    case REQ_CLOSE:
    case REQ_START:
    case REQ_STOP:
    case REQ_STANDARD_FUNCTIONS:
        return 1;
    default:
        return 0;
    }
}

struct Engine {
    int window = 0;
    Engine()
    {
        EngineDriver driver = {&kRecord, nullptr};
        Engine_SetDriver(&driver);
        Engine_Init(nullptr, 0, 0);
        Engine_Open(&window);
        Engine_Start();
    }
    ~Engine()
    {
        Engine_Stop();
        Engine_Close();
        Engine_Term();
    }
};

// 10,000 frames: a root with 100 children of 99 children each; every frame
// has a small rotation and translation. Each iteration moves the root and
// synchronises the whole hierarchy.
void BM_FrameHierarchySync10k(benchmark::State& state)
{
    Engine engine;
    Frame* root = Frame_Create();
    Vec3 axis = {0.3f, 1.0f, 0.2f}, step = {0.1f, 0.0f, 0.2f};
    std::vector<Frame*> frames = {root};
    for (int i = 0; i < 100; i++) {
        Frame* mid = Frame_Create();
        Frame_AddChild(root, mid);
        frames.push_back(mid);
        for (int j = 0; j < 99; j++) {
            Frame* leaf = Frame_Create();
            Frame_AddChild(mid, leaf);
            frames.push_back(leaf);
        }
    }
    for (Frame* f : frames) {
        Matrix_Rotate(&f->modelling, &axis, 3.0f, COMBINE_REPLACE);
        Matrix_Translate(&f->modelling, &step, COMBINE_POSTCONCAT);
        Frame_MarkDirty(f);
    }
    Frame_SyncDirtyList();
    for (auto _ : state) {
        Matrix_Rotate(&root->modelling, &axis, 1.0f, COMBINE_POSTCONCAT);
        Frame_MarkDirty(root);
        Frame_SyncDirtyList();
        benchmark::DoNotOptimize(frames.back()->world.pos.x);
    }
    state.SetItemsProcessed(state.iterations() * (int64_t)frames.size());
    Frame_DestroyHierarchy(root);
}
BENCHMARK(BM_FrameHierarchySync10k);

std::vector<Vec3> Points(size_t n)
{
    std::vector<Vec3> p(n);
    for (size_t i = 0; i < n; i++) p[i] = {(float)i * 0.001f, (float)(i % 97), -(float)(i % 13)};
    return p;
}

Matrix SomeMatrix(void)
{
    Matrix m;
    Matrix_SetIdentity(&m);
    Vec3 axis = {1, 2, 3}, t = {5, 6, 7};
    Matrix_Rotate(&m, &axis, 37.0f, COMBINE_REPLACE);
    Matrix_Translate(&m, &t, COMBINE_POSTCONCAT);
    return m;
}

// One batch transform of 100,000 points by the same matrix each iteration.
void TimeTransform(benchmark::State& state, Vec3* (*transform)(Vec3*, const Vec3*, int32_t, const Matrix*))
{
    std::vector<Vec3> in = Points(100000), out(in.size());
    Matrix m = SomeMatrix();
    for (auto _ : state) {
        transform(out.data(), in.data(), (int32_t)in.size(), &m);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * (int64_t)in.size());
}

void BM_TransformPoints100k(benchmark::State& state) { TimeTransform(state, Vector3_TransformPoints); }
BENCHMARK(BM_TransformPoints100k);

void BM_TransformVectors100k(benchmark::State& state) { TimeTransform(state, Vector3_TransformVectors); }
BENCHMARK(BM_TransformVectors100k);

// 100,000 matrix products, each point's frame times a parent.
void BM_MatrixMultiply100k(benchmark::State& state)
{
    std::vector<Matrix> in(100000, SomeMatrix()), out(in.size());
    for (size_t i = 0; i < in.size(); i++) in[i].pos.x = (float)i;
    Matrix parent = SomeMatrix();
    parent.flags = 0;
    for (Matrix& m : in) m.flags = 0;
    for (auto _ : state) {
        for (size_t i = 0; i < in.size(); i++) Matrix_Multiply(&out[i], &in[i], &parent);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * (int64_t)in.size());
}
BENCHMARK(BM_MatrixMultiply100k);

// A 10 MB memory stream of chunks: each a header and 4 KB of words and
// floats, read back with the chunk search and the word readers.
void BM_ChunkStreamRead10MB(benchmark::State& state)
{
    Engine engine;
    const uint32_t payload = 4096, chunks = (10u << 20) / (payload + CHUNK_HEADER_SIZE);
    std::vector<uint32_t> words(payload / 4);
    for (size_t i = 0; i < words.size(); i++) words[i] = (uint32_t)i;
    Stream* s = Stream_Open(STREAM_MEMORY, STREAM_WRITE, nullptr);
    for (uint32_t c = 0; c < chunks; c++) {
        Stream_WriteChunkHeaderDefault(s, CHUNK_STRUCT, payload);
        Stream_WriteInt32(s, words.data(), payload);
    }
    StreamMemory mem;
    Stream_Close(s, &mem);
    std::vector<uint32_t> back(words.size());
    for (auto _ : state) {
        Stream* r = Stream_Open(STREAM_MEMORY, STREAM_READ, &mem);
        uint32_t length;
        uint64_t sum = 0;
        while (Stream_FindChunk(r, CHUNK_STRUCT, &length, nullptr)) {
            Stream_ReadInt32(r, back.data(), length);
            sum += back[length / 4 - 1];
        }
        Stream_Close(r, nullptr);
        benchmark::DoNotOptimize(sum);
    }
    Error_Get(nullptr);
    state.SetBytesProcessed(state.iterations() * (int64_t)mem.length);
    Engine_Free(mem.start);
}
BENCHMARK(BM_ChunkStreamRead10MB);

}  // namespace

BENCHMARK_MAIN();
