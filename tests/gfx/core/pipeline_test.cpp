// Pipelines (editing, compiling, cluster slots, execution) and their packet heap.
#include "gfx/core/pipeline.h"

#include <algorithm>
#include <deque>

#include "gfx/core/pipelineheap.h"
#include "tests/gfx/core/image_fixture.h"

using namespace testdriver;

namespace {

std::vector<std::string> calls;  // "init a", "body b", ...
int32_t Init(PipelineNode* n) { return calls.push_back(std::string("init ") + n->definition->name), 1; }
int32_t Term(PipelineNode* n) { return calls.push_back(std::string("term ") + n->definition->name), 1; }
int32_t Open(PipelineNodeDefinition* d) { return calls.push_back(std::string("open ") + d->name), 1; }
int32_t Close(PipelineNodeDefinition* d) { return calls.push_back(std::string("close ") + d->name), 1; }
int32_t FailInit(PipelineNode*) { return 0; }
int32_t Body(PipelineNode* n, const PipelineExecuteParams* params)
{
    calls.push_back(std::string("body ") + n->definition->name);
    for (uint32_t o = 0; o < n->numOutputs; o++)
        if (!Pipeline_SendPacket(n, params, o)) return 0;
    return 1;
}
// Fills every slot the node lists with heap memory, then passes on.
int32_t WriteSlots(PipelineNode* n, const PipelineExecuteParams* params)
{
    for (uint32_t k = 0; k < n->definition->numClusters; k++) {
        int32_t s = n->slotIndex[k];
        if (s >= 0 && !params->packet->slots[s].data)
            params->packet->slots[s].data = PipelineHeap_Alloc(params->heap, 64);
    }
    return Body(n, params);
}

const PipelineClusterDefinition kVerts = {"verts", 12, 0}, kColours = {"colours", 4, 0}, kUvs = {"uvs", 8, 0},
                                kTemp = {"temp", 4, 0};

class PipelineTest : public ::testing::Test {
protected:
    EngineScope scope;
    std::deque<PipelineNodeDefinition> defs;  // outlive the pipelines that hold them
    std::vector<Pipeline*> made;
    ~PipelineTest() override
    {
        for (Pipeline* p : made) Pipeline_Destroy(p);
    }
    PipelineNodeDefinition& Def(const char* name, uint32_t outputs = 1)
    {
        PipelineNodeDefinition& d = defs.emplace_back();
        d.name = name, d.body = Body, d.open = Open, d.close = Close, d.init = Init, d.term = Term;
        d.numOutputs = outputs;
        return d;
    }
    static Pipeline* Add(Pipeline* p, std::vector<PipelineNodeDefinition*> chain)
    {
        chain.resize(4, nullptr);
        return Pipeline_AddNodeChain(p, nullptr, chain[0], chain[1], chain[2], chain[3], nullptr);
    }
    Pipeline* Edit(std::initializer_list<std::vector<PipelineNodeDefinition*>> chains)
    {
        Pipeline* p = Pipeline_Create();
        made.push_back(p);
        Pipeline_BeginEdit(p);
        for (const auto& chain : chains) Add(p, chain);
        return p;
    }
    static PipelineNode* Node(Pipeline* p, const char* name)
    {
        int32_t i;
        return Pipeline_FindNodeByName(p, name, nullptr, &i) ? &p->nodes[i] : nullptr;
    }
};

}  // namespace

TEST_F(PipelineTest, TooManyNodesOrOutputsAndGraphsWithUnreachableNodesCyclesOrAnEntryWithInputAreRefused)
{
    PipelineNodeDefinition &a = Def("a"), &wide = Def("wide", 33);
    Pipeline* p = Edit({});
    for (int i = 0; i < 16; i++) Add(p, {&a, &a, &a, &a});
    Error_Get(nullptr);
    EXPECT_EQ(Add(p, {&a}), nullptr);
    EXPECT_EQ(Error_TakeCode(), ERR_PIPE_NODES);
    EXPECT_EQ(p->numNodes, 64u);
    Pipeline* q = Edit({});
    EXPECT_EQ(Add(q, {&a, &wide}), nullptr);
    EXPECT_EQ(Error_TakeCode(), ERR_PIPE_OUTPUTS);
    EXPECT_EQ(q->numNodes, 0u);
    PipelineNodeDefinition &e = Def("entry"), &x = Def("x"), &y = Def("y"), &lone = Def("lone", 0);
    const struct {
        const char* what;
        std::vector<std::vector<PipelineNodeDefinition*>> chains;
        int32_t from, to;  // an extra link, output 0 of node `from`
        int32_t error;
    } cases[] = {
        {"an unreachable node without input", {{&e}, {&lone}}, -1, -1, ERR_PIPE_NO_INPUT},
        {"an unreachable cycle", {{&e}, {&x, &y}}, 2, 1, ERR_PIPE_TOPOLOGY},
        {"an entry node with an input", {{&x, &y}}, 1, 0, ERR_PIPE_ENTRY},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Pipeline* p = Edit({});
        for (const auto& chain : c.chains) Add(p, chain);
        if (c.from >= 0) p->nodes[c.from].outputs[0] = c.to;
        calls.clear();
        Error_Get(nullptr);
        EXPECT_EQ(Pipeline_Compile(p), nullptr);
        EXPECT_EQ(Error_TakeCode(), c.error);
        EXPECT_EQ(p->locked, 1);
        EXPECT_TRUE(calls.empty());  // nothing was initialised
    }
}

TEST_F(PipelineTest, SharedDefinitionsOpenAndCloseOnceChainsConnectInOrderInitFromTheLastNodeAndRunFromTheFirst)
{
    PipelineNodeDefinition &a = Def("a", 0), &bad = Def("bad");
    bad.init = FailInit;
    calls.clear();
    Pipeline *p1 = Edit({{&a}}), *p2 = Edit({{&a}});
    for (Pipeline* q : {p1, p2}) ASSERT_EQ(Pipeline_Compile(q), q);
    EXPECT_EQ(std::tuple(a.refCount, std::count(calls.begin(), calls.end(), "open a")), std::tuple(2, 1));
    Pipeline* broken = Edit({{&bad, &a}});
    calls.clear();
    EXPECT_EQ(Pipeline_Compile(broken), nullptr);
    EXPECT_EQ(std::tuple(calls, a.refCount),
              std::tuple(std::vector<std::string>{"init a", "open bad", "close bad", "term a"}, 2));
    for (auto p = made.rbegin(); p != made.rend(); ++p) Pipeline_Destroy(*p);  // broken first
    made.clear();
    EXPECT_EQ(std::tuple(std::count(calls.begin(), calls.end(), "close a"), a.refCount), std::tuple(1, 0));
    Error_Get(nullptr);
    // An empty pipeline compiles and unlocks; an unlocked one is not compiled.
    Pipeline* empty = Edit({});
    EXPECT_EQ(empty->locked, 1);
    EXPECT_EQ(Pipeline_Compile(empty), empty);
    EXPECT_EQ(empty->locked, 0);
    Error_Get(nullptr);
    EXPECT_EQ(Pipeline_Compile(empty), nullptr);
    EXPECT_EQ(Error_TakeCode(), ERR_PIPE_NOT_LOCKED);

    PipelineNodeDefinition &x = Def("a"), &y = Def("b"), &z = Def("c", 0);
    Pipeline* p = Edit({});
    int32_t first = -1;
    ASSERT_EQ(Pipeline_AddNodeChain(p, &first, &x, &y, &z, nullptr), p);
    EXPECT_EQ(std::tuple(first, p->nodes[0].outputs[0], p->nodes[1].outputs[0]), std::tuple(0, 1, 2));
    calls.clear();
    ASSERT_EQ(Pipeline_Compile(p), p);
    EXPECT_EQ(calls, (std::vector<std::string>{"open c", "init c", "open b", "init b", "open a", "init a"}));
    calls.clear();
    int token = 0;
    EXPECT_EQ(Pipeline_Execute(p, &token, 1), p);
    EXPECT_EQ(calls, (std::vector<std::string>{"body a", "body b", "body c"}));
    // A search after the only node of a name finds nothing.
    int32_t idx;
    EXPECT_EQ(Pipeline_FindNodeByName(p, "b", Node(p, "b"), &idx), nullptr);
    EXPECT_EQ(Pipeline_FindNodeByName(p, "c", nullptr, nullptr), &p->nodes[2]);  // no index wanted
    EXPECT_EQ(idx, -1);
}

TEST_F(PipelineTest, ClusterResolutionAssignsSlotsAndRefusesMissingClusters)
{
    // source: makes verts and colours valid, drops uvs.
    const PipelineClusterRef srcClusters[] = {{&kVerts, 1, 0}, {&kColours, 1, 0}, {&kUvs, 0, 0}};
    const uint32_t srcFlags[] = {CLUSTER_VALID, CLUSTER_VALID, CLUSTER_INVALID};
    const PipelineOutputSpec srcOut[] = {{srcFlags, CLUSTER_PASS_THROUGH}};
    PipelineNodeDefinition& source = Def("source");
    source.body = WriteSlots, source.numClusters = 3, source.clusters = srcClusters, source.outputs = srcOut;
    // middle: passes everything, uses a temporary of its own that it drops.
    const PipelineClusterRef midClusters[] = {{&kTemp, 1, 0}};
    const uint32_t midFlags[] = {CLUSTER_INVALID};
    const PipelineOutputSpec midOut[] = {{midFlags, CLUSTER_PASS_THROUGH}};
    PipelineNodeDefinition& middle = Def("middle");
    middle.body = WriteSlots, middle.numClusters = 1, middle.clusters = midClusters, middle.outputs = midOut;
    // sink: requires verts, would like uvs.
    const PipelineClusterRef sinkClusters[] = {{&kVerts, 1, 0}, {&kUvs, 0, 0}};
    const uint32_t sinkReq[] = {CLUSTER_REQUIRED, CLUSTER_OPTIONAL};
    PipelineNodeDefinition& sink = Def("sink", 0);
    sink.numClusters = 2, sink.clusters = sinkClusters, sink.requirements = sinkReq;

    Pipeline* p = Edit({{&source, &middle, &sink}});
    ASSERT_EQ(Pipeline_Compile(p), p);
    PipelineNode *src = Node(p, "source"), *mid = Node(p, "middle"), *snk = Node(p, "sink");
    // verts flows from source to sink in one slot, left by output 0.
    EXPECT_GE(src->slotIndex[0], 0);
    EXPECT_EQ(std::tuple(src->slotIndex[0], src->outputMask[0]), std::tuple(snk->slotIndex[0], 1u));
    // The optional uvs were dropped upstream, so the sink has no slot for them.
    EXPECT_EQ(std::tuple(snk->slotIndex[1], src->slotIndex[2]), std::tuple(-1, -1));
    // The temporary meets verts in the middle node, so it needs a slot of its own.
    EXPECT_GE(mid->slotIndex[0], 0);
    EXPECT_NE(mid->slotIndex[0], src->slotIndex[0]);
    EXPECT_LE(p->packetNumClusterSlots, 3u);
    calls.clear();
    EXPECT_EQ(Pipeline_Execute(p, nullptr, 1), p);
    EXPECT_EQ(std::tuple(calls.size(), Pipeline_GetHeap()->resetNeeded), std::tuple(3u, 1));

    // A required cluster invalidated upstream, a cluster listed twice, a null cluster.
    const uint32_t dropVerts[] = {CLUSTER_INVALID, CLUSTER_VALID, CLUSTER_INVALID};
    const PipelineOutputSpec badOut[] = {{dropVerts, CLUSTER_PASS_THROUGH}};
    PipelineNodeDefinition& badSource = Def("badsource");
    badSource = source;
    badSource.name = "badsource", badSource.outputs = badOut;
    const PipelineClusterRef twice[] = {{&kVerts, 0, 0}, {&kVerts, 0, 0}}, none[] = {{nullptr, 0, 0}};
    PipelineNodeDefinition &dup = Def("dup", 0), &null = Def("null", 0);
    dup.numClusters = 2, dup.clusters = twice;
    null.numClusters = 1, null.clusters = none;
    const std::pair<Pipeline*, int32_t> refused[] = {{Edit({{&badSource, &sink}}), ERR_PIPE_CLUSTER_MISSING},
                                                     {Edit({{&dup}}), ERR_PIPE_CLUSTER_TWICE},
                                                     {Edit({{&null}}), ERR_PIPE_CLUSTER_NULL}};
    for (const auto& [q, error] : refused) {
        Error_Get(nullptr);
        EXPECT_EQ(Pipeline_Compile(q), nullptr) << error;
        EXPECT_EQ(Error_TakeCode(), error);
    }
}

TEST(PipelineHeap, FreeMergesWithEachKindOfNeighbour)
{
    InitScope scope;
    PipelineHeap* heap = PipelineHeap_Create(100);
    ASSERT_NE(heap, nullptr);
    EXPECT_EQ(heap->size, 1024u);
    auto header = [](void* data) { return (PipelineHeapBlock*)((uint8_t*)data - 32); };
    void *a = PipelineHeap_Alloc(heap, 64), *b = PipelineHeap_Alloc(heap, 64), *c = PipelineHeap_Alloc(heap, 64),
         *d = PipelineHeap_Alloc(heap, 64);
    EXPECT_EQ(std::tuple((uintptr_t)a % 32, header(b)->prev), std::tuple(0u, header(a)));
    EXPECT_EQ(heap->freeCount, 1u);  // the rest after d
    // Each free: the block, then the free records and a's size after it.
    const struct {
        void* block;
        uint32_t freeCount, sizeOfA;
    } steps[] = {
        {b, 2, 64},            // neither neighbour free: a new record
        {a, 2, 64 + 32 + 64},  // next (b) free: a takes it in
        {d, 2, 64 + 32 + 64},  // next is the tail rest: d takes it in
        {c, 1, 1024 - 64},     // both free: a swallows c and d; one block less its header and the sentinel
    };
    for (const auto& s : steps) {
        PipelineHeap_Free(heap, s.block);
        EXPECT_EQ(std::tuple(heap->freeCount, header(a)->size), std::tuple(s.freeCount, s.sizeOfA));
    }
    void *e = PipelineHeap_Alloc(heap, 32), *f = PipelineHeap_Alloc(heap, 32);
    PipelineHeap_Free(heap, e);
    PipelineHeap_Free(heap, f);  // previous free only (the next, the rest, too): one block
    EXPECT_EQ(heap->freeCount, 1u);
    // Bigger than a region: a new region is added; reset forgets everything.
    ASSERT_NE(PipelineHeap_Alloc(heap, 5000), nullptr);
    EXPECT_EQ(heap->resetNeeded, 1);
    PipelineHeap_Reset(heap);
    EXPECT_EQ(std::tuple(heap->freeCount, heap->resetNeeded), std::tuple(2u, 0));
    PipelineHeap_Destroy(heap);
}

TEST(Pipeline, BeforeTheStartOnlyTheModulesOwnRenderStateVectorIsAnsweredAndRadixSortOrdersByKey)
{
    InitScope scope;
    PipelineRenderStateVector* defaults = Pipeline_GetDefaultRenderStateVector();
    ASSERT_EQ(Pipeline_LoadRenderStateVector(defaults), defaults);
    const PipelineRenderStateVector expected = {7, 2, 5, 6, nullptr, 1, 1, 2, 0xFFFFFFFFu, 0, 0xFFFFFFFFu};
    EXPECT_EQ(memcmp(defaults, &expected, sizeof expected), 0);
    PipelineRenderStateVector mine = {};
    EXPECT_EQ(Pipeline_LoadRenderStateVector(&mine), nullptr);
    EXPECT_EQ(Error_TakeCode(), ERR_BAD_BLOCK);
    EXPECT_EQ(Pipeline_LoadRenderStateVector(nullptr), nullptr);
    EXPECT_EQ(Error_TakeCode(), ERR_NULL_ARGUMENT);
    struct Rec {
        uint32_t pad, key;
    };
    std::vector<Rec> recs;
    for (uint32_t i = 0; i < 200; i++) recs.push_back({i, (i * 7919u) % 1000u});
    Pipeline_RadixSort(recs.data(), (uint32_t)recs.size(), sizeof(Rec), offsetof(Rec, key), 0, 999);
    for (size_t i = 1; i < recs.size(); i++) EXPECT_LE(recs[i - 1].key, recs[i].key);
    // A key that does not fit the record: nothing moves.
    Rec two[2] = {{0, 5}, {0, 1}};
    Pipeline_RadixSort(two, 2, sizeof(Rec), 6, 0, 10);
    EXPECT_EQ(two[0].key, 5u);
}
