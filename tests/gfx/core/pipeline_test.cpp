#include "gfx/core/pipeline.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "gfx/core/error.h"
#include "gfx/core/pipelineheap.h"
#include "tests/gfx/core/test_driver.h"

using namespace testdriver;

namespace {

std::vector<std::string>& Log() { static std::vector<std::string> log; return log; }

int32_t Init(PipelineNode* n) { Log().push_back(std::string("init ") + n->definition->name); return 1; }
int32_t Term(PipelineNode* n) { Log().push_back(std::string("term ") + n->definition->name); return 1; }
int32_t Open(PipelineNodeDefinition* d) { Log().push_back(std::string("open ") + d->name); return 1; }
int32_t Close(PipelineNodeDefinition* d) { Log().push_back(std::string("close ") + d->name); return 1; }
int32_t FailInit(PipelineNode*) { return 0; }

int32_t Body(PipelineNode* n, const PipelineExecuteParams* params)
{
    Log().push_back(std::string("body ") + n->definition->name);
    for (uint32_t o = 0; o < n->numOutputs; o++)
        if (!Pipeline_SendPacket(n, params, o)) return 0;
    return 1;
}

PipelineNodeDefinition Def(const char* name, uint32_t outputs = 1)
{
    PipelineNodeDefinition d = {};
    d.name = name;
    d.body = Body;
    d.open = Open;
    d.close = Close;
    d.init = Init;
    d.term = Term;
    d.numOutputs = outputs;
    return d;
}

struct Built {
    Pipeline* p;
    explicit Built(Pipeline* pipeline) : p(pipeline) {}
    ~Built() { Pipeline_Destroy(p); }
};

int32_t Index(Pipeline* p, const char* name)
{
    int32_t i;
    Pipeline_FindNodeByName(p, name, nullptr, &i);
    return i;
}

}  // namespace

TEST(Pipeline, EmptyPipelineCompilesAndUnlocks)
{
    EngineScope scope;
    Built b(Pipeline_Create());
    ASSERT_NE(Pipeline_BeginEdit(b.p), nullptr);
    EXPECT_EQ(b.p->locked, 1);
    EXPECT_EQ(Pipeline_Compile(b.p), b.p);
    EXPECT_EQ(b.p->locked, 0);
    Error_Get(nullptr);
    EXPECT_EQ(Pipeline_Compile(b.p), nullptr);
    EXPECT_EQ(Error_TakeCode(), ERR_PIPE_NOT_LOCKED);
}

TEST(Pipeline, ChainConnectsInOrderAndInitsFromTheLastNode)
{
    EngineScope scope;
    PipelineNodeDefinition a = Def("a"), b = Def("b"), c = Def("c", 0);
    Built p(Pipeline_Create());
    Pipeline_BeginEdit(p.p);
    int32_t first = -1;
    ASSERT_EQ(Pipeline_AddNodeChain(p.p, &first, &a, &b, &c, nullptr), p.p);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(p.p->nodes[0].outputs[0], 1);
    EXPECT_EQ(p.p->nodes[1].outputs[0], 2);
    Log().clear();
    ASSERT_EQ(Pipeline_Compile(p.p), p.p);
    EXPECT_EQ(Log(), (std::vector<std::string>{"open c", "init c", "open b", "init b", "open a", "init a"}));
    Log().clear();
    int token = 0;
    EXPECT_EQ(Pipeline_Execute(p.p, &token, 1), p.p);
    EXPECT_EQ(Log(), (std::vector<std::string>{"body a", "body b", "body c"}));
    // Find with an after-node.
    PipelineNode* nb = Pipeline_FindNodeByName(p.p, "b", nullptr, nullptr);
    ASSERT_NE(nb, nullptr);
    int32_t idx;
    EXPECT_EQ(Pipeline_FindNodeByName(p.p, "b", nb, &idx), nullptr);
    EXPECT_EQ(idx, -1);
}

TEST(Pipeline, TooManyNodesAreRefusedAndNothingIsAdded)
{
    EngineScope scope;
    PipelineNodeDefinition a = Def("a");
    Built p(Pipeline_Create());
    Pipeline_BeginEdit(p.p);
    for (int i = 0; i < 16; i++) Pipeline_AddNodeChain(p.p, nullptr, &a, &a, &a, &a, nullptr);
    EXPECT_EQ(p.p->numNodes, 64u);
    Error_Get(nullptr);
    EXPECT_EQ(Pipeline_AddNodeChain(p.p, nullptr, &a, nullptr), nullptr);
    EXPECT_EQ(Error_TakeCode(), ERR_PIPE_NODES);
    EXPECT_EQ(p.p->numNodes, 64u);
    PipelineNodeDefinition wide = Def("wide", 33);
    Built q(Pipeline_Create());
    Pipeline_BeginEdit(q.p);
    EXPECT_EQ(Pipeline_AddNodeChain(q.p, nullptr, &a, &wide, nullptr), nullptr);
    EXPECT_EQ(Error_TakeCode(), ERR_PIPE_OUTPUTS);
    EXPECT_EQ(q.p->numNodes, 0u);
}

TEST(Pipeline, SharedDefinitionOpensOnceAndClosesOnce)
{
    EngineScope scope;
    PipelineNodeDefinition a = Def("a", 0);
    Log().clear();
    Pipeline* p1 = Pipeline_Create();
    Pipeline* p2 = Pipeline_Create();
    for (Pipeline* p : {p1, p2}) {
        Pipeline_BeginEdit(p);
        Pipeline_AddNodeChain(p, nullptr, &a, nullptr);
        ASSERT_EQ(Pipeline_Compile(p), p);
    }
    EXPECT_EQ(a.refCount, 2);
    Pipeline_Destroy(p1);
    Pipeline_Destroy(p2);
    EXPECT_EQ(std::count(Log().begin(), Log().end(), "open a"), 1);
    EXPECT_EQ(std::count(Log().begin(), Log().end(), "close a"), 1);
    EXPECT_EQ(a.refCount, 0);
}

TEST(Pipeline, GraphChecksReportUnreachableNodes)
{
    EngineScope scope;
    PipelineNodeDefinition e = Def("entry"), x = Def("x"), y = Def("y"), lone = Def("lone", 0);
    // An unreachable node without input: 34.
    {
        Built p(Pipeline_Create());
        Pipeline_BeginEdit(p.p);
        Pipeline_AddNodeChain(p.p, nullptr, &e, nullptr);
        Pipeline_AddNodeChain(p.p, nullptr, &lone, nullptr);
        Error_Get(nullptr);
        EXPECT_EQ(Pipeline_Compile(p.p), nullptr);
        EXPECT_EQ(Error_TakeCode(), ERR_PIPE_NO_INPUT);
        EXPECT_EQ(p.p->locked, 1);
    }
    // An unreachable cycle x <-> y: 28.
    {
        Built p(Pipeline_Create());
        Pipeline_BeginEdit(p.p);
        Pipeline_AddNodeChain(p.p, nullptr, &e, nullptr);
        Pipeline_AddNodeChain(p.p, nullptr, &x, &y, nullptr);
        p.p->nodes[2].outputs[0] = 1;  // y -> x
        Log().clear();
        EXPECT_EQ(Pipeline_Compile(p.p), nullptr);
        EXPECT_EQ(Error_TakeCode(), ERR_PIPE_TOPOLOGY);
        EXPECT_TRUE(Log().empty());  // nothing was initialised
    }
    // The entry node may not have an input: 36.
    {
        Built p(Pipeline_Create());
        Pipeline_BeginEdit(p.p);
        Pipeline_AddNodeChain(p.p, nullptr, &x, &y, nullptr);
        p.p->nodes[1].outputs[0] = 0;
        EXPECT_EQ(Pipeline_Compile(p.p), nullptr);
        EXPECT_EQ(Error_TakeCode(), ERR_PIPE_ENTRY);
    }
    Error_Get(nullptr);
}

TEST(Pipeline, CompileSortsTopologicallySoNodesAreFoundByName)
{
    EngineScope scope;
    PipelineNodeDefinition e = Def("entry", 2), l = Def("left"), r = Def("right"), j = Def("join", 0);
    Built p(Pipeline_Create());
    Pipeline_BeginEdit(p.p);
    // Added join first so that the sort must move it behind its inputs.
    Pipeline_AddNodeChain(p.p, nullptr, &j, nullptr);
    Pipeline_AddNodeChain(p.p, nullptr, &e, nullptr);
    Pipeline_AddNodeChain(p.p, nullptr, &l, nullptr);
    Pipeline_AddNodeChain(p.p, nullptr, &r, nullptr);
    p.p->entryNode = 1;
    p.p->nodes[1].outputs[0] = 2;
    p.p->nodes[1].outputs[1] = 3;
    p.p->nodes[2].outputs[0] = 0;
    p.p->nodes[3].outputs[0] = 0;
    ASSERT_EQ(Pipeline_Compile(p.p), p.p);
    EXPECT_EQ(Index(p.p, "entry"), 0);
    EXPECT_EQ(Index(p.p, "join"), 3);
    EXPECT_LT(Index(p.p, "left"), Index(p.p, "join"));
    EXPECT_EQ(p.p->nodes[Index(p.p, "left")].outputs[0], 3);
    Log().clear();
    Pipeline_Execute(p.p, nullptr, 0);
    EXPECT_EQ(Log().front(), "body entry");
}

TEST(Pipeline, FailedCompileCanBeDestroyedWithoutClosingTwice)
{
    EngineScope scope;
    PipelineNodeDefinition a = Def("a", 0), bad = Def("bad");
    bad.init = FailInit;
    Pipeline* keep = Pipeline_Create();
    Pipeline_BeginEdit(keep);
    Pipeline_AddNodeChain(keep, nullptr, &a, nullptr);
    ASSERT_EQ(Pipeline_Compile(keep), keep);

    Pipeline* broken = Pipeline_Create();
    Pipeline_BeginEdit(broken);
    Pipeline_AddNodeChain(broken, nullptr, &bad, &a, nullptr);
    Log().clear();
    EXPECT_EQ(Pipeline_Compile(broken), nullptr);
    EXPECT_EQ(Log(), (std::vector<std::string>{"init a", "open bad", "close bad", "term a"}));
    EXPECT_EQ(a.refCount, 1);
    Pipeline_Destroy(broken);
    EXPECT_EQ(a.refCount, 1);  // still in use by the other pipeline
    Log().clear();
    Pipeline_Destroy(keep);
    EXPECT_EQ(Log(), (std::vector<std::string>{"term a", "close a"}));
    Error_Get(nullptr);
}

namespace {

const PipelineClusterDefinition kVerts = {"verts", 12, 0}, kColours = {"colours", 4, 0}, kUvs = {"uvs", 8, 0},
                                 kTemp = {"temp", 4, 0};

int32_t WriteSlots(PipelineNode* n, const PipelineExecuteParams* params)
{
    // Fill every slot this node lists with heap memory, then pass on.
    for (uint32_t k = 0; k < n->definition->numClusters; k++) {
        int32_t s = n->slotIndex[k];
        if (s >= 0 && !params->packet->slots[s].data) params->packet->slots[s].data = PipelineHeap_Alloc(params->heap, 64);
    }
    return Body(n, params);
}

}  // namespace

TEST(Pipeline, ClusterResolutionAssignsSlotsAndRefusesMissingClusters)
{
    EngineScope scope;
    // source: makes verts and colours valid, drops uvs.
    const PipelineClusterRef srcClusters[] = {{&kVerts, 1, 0}, {&kColours, 1, 0}, {&kUvs, 0, 0}};
    const uint32_t srcFlags[] = {CLUSTER_VALID, CLUSTER_VALID, CLUSTER_INVALID};
    const PipelineOutputSpec srcOut[] = {{srcFlags, CLUSTER_PASS_THROUGH}};
    PipelineNodeDefinition source = Def("source");
    source.body = WriteSlots;
    source.numClusters = 3;
    source.clusters = srcClusters;
    source.outputs = srcOut;
    // middle: passes everything, uses a temporary of its own that it drops.
    const PipelineClusterRef midClusters[] = {{&kTemp, 1, 0}};
    const uint32_t midFlags[] = {CLUSTER_INVALID};
    const PipelineOutputSpec midOut[] = {{midFlags, CLUSTER_PASS_THROUGH}};
    PipelineNodeDefinition middle = Def("middle");
    middle.body = WriteSlots;
    middle.numClusters = 1;
    middle.clusters = midClusters;
    middle.outputs = midOut;
    // sink: requires verts, would like uvs.
    const PipelineClusterRef sinkClusters[] = {{&kVerts, 1, 0}, {&kUvs, 0, 0}};
    const uint32_t sinkReq[] = {CLUSTER_REQUIRED, CLUSTER_OPTIONAL};
    PipelineNodeDefinition sink = Def("sink", 0);
    sink.numClusters = 2;
    sink.clusters = sinkClusters;
    sink.requirements = sinkReq;

    Built p(Pipeline_Create());
    Pipeline_BeginEdit(p.p);
    Pipeline_AddNodeChain(p.p, nullptr, &source, &middle, &sink, nullptr);
    ASSERT_EQ(Pipeline_Compile(p.p), p.p);
    PipelineNode* src = &p.p->nodes[Index(p.p, "source")];
    PipelineNode* mid = &p.p->nodes[Index(p.p, "middle")];
    PipelineNode* snk = &p.p->nodes[Index(p.p, "sink")];
    // verts flows from source to sink in one slot, left by output 0.
    EXPECT_GE(src->slotIndex[0], 0);
    EXPECT_EQ(src->slotIndex[0], snk->slotIndex[0]);
    EXPECT_EQ(src->outputMask[0], 1u);
    // The optional uvs were dropped upstream, so the sink has no slot for them.
    EXPECT_EQ(snk->slotIndex[1], -1);
    EXPECT_EQ(src->slotIndex[2], -1);
    // The temporary meets verts in the middle node, so it needs a slot of its own.
    EXPECT_GE(mid->slotIndex[0], 0);
    EXPECT_NE(mid->slotIndex[0], src->slotIndex[0]);
    EXPECT_LE(p.p->packetNumClusterSlots, 3u);
    EXPECT_GE(p.p->packetNumClusterSlots, 2u);
    Log().clear();
    EXPECT_EQ(Pipeline_Execute(p.p, nullptr, 1), p.p);
    EXPECT_EQ(Log().size(), 3u);
    EXPECT_EQ(Pipeline_GetHeap()->resetNeeded, 1);

    // A required cluster that an upstream node invalidates: 29.
    const uint32_t dropVerts[] = {CLUSTER_INVALID, CLUSTER_VALID, CLUSTER_INVALID};
    const PipelineOutputSpec badOut[] = {{dropVerts, CLUSTER_PASS_THROUGH}};
    PipelineNodeDefinition badSource = source;
    badSource.name = "badsource";
    badSource.outputs = badOut;
    Built q(Pipeline_Create());
    Pipeline_BeginEdit(q.p);
    Pipeline_AddNodeChain(q.p, nullptr, &badSource, &sink, nullptr);
    Error_Get(nullptr);
    EXPECT_EQ(Pipeline_Compile(q.p), nullptr);
    EXPECT_EQ(Error_TakeCode(), ERR_PIPE_CLUSTER_MISSING);

    // A cluster listed twice: 30; a null cluster: 31.
    const PipelineClusterRef twice[] = {{&kVerts, 0, 0}, {&kVerts, 0, 0}};
    PipelineNodeDefinition dup = Def("dup", 0);
    dup.numClusters = 2;
    dup.clusters = twice;
    Built r(Pipeline_Create());
    Pipeline_BeginEdit(r.p);
    Pipeline_AddNodeChain(r.p, nullptr, &dup, nullptr);
    EXPECT_EQ(Pipeline_Compile(r.p), nullptr);
    EXPECT_EQ(Error_TakeCode(), ERR_PIPE_CLUSTER_TWICE);
    const PipelineClusterRef none[] = {{nullptr, 0, 0}};
    dup.numClusters = 1;
    dup.clusters = none;
    EXPECT_EQ(Pipeline_Compile(r.p), nullptr);
    EXPECT_EQ(Error_TakeCode(), ERR_PIPE_CLUSTER_NULL);
}

TEST(Pipeline, ClusterInstancesOnSeparateBranchesShareASlot)
{
    EngineScope scope;
    // entry fans out to two branches; each branch makes its own temporary
    // that the other never sees, so both can use the same slot.
    const PipelineClusterRef aClusters[] = {{&kColours, 1, 0}};
    const uint32_t aValid[] = {CLUSTER_VALID};
    const PipelineOutputSpec aOut[] = {{aValid, CLUSTER_PASS_THROUGH}};
    const PipelineClusterRef bClusters[] = {{&kUvs, 1, 0}};
    const PipelineOutputSpec bOut[] = {{aValid, CLUSTER_PASS_THROUGH}};
    const uint32_t req[] = {CLUSTER_REQUIRED};
    PipelineNodeDefinition entry = Def("entry", 2), a = Def("a"), b = Def("b"), ua = Def("usea", 0),
                           ub = Def("useb", 0);
    a.numClusters = 1, a.clusters = aClusters, a.outputs = aOut;
    b.numClusters = 1, b.clusters = bClusters, b.outputs = bOut;
    ua.numClusters = 1, ua.clusters = aClusters, ua.requirements = req;
    ub.numClusters = 1, ub.clusters = bClusters, ub.requirements = req;
    Built p(Pipeline_Create());
    Pipeline_BeginEdit(p.p);
    Pipeline_AddNodeChain(p.p, nullptr, &entry, nullptr);
    Pipeline_AddNodeChain(p.p, nullptr, &a, &ua, nullptr);
    Pipeline_AddNodeChain(p.p, nullptr, &b, &ub, nullptr);
    p.p->nodes[0].outputs[0] = 1;
    p.p->nodes[0].outputs[1] = 3;
    ASSERT_EQ(Pipeline_Compile(p.p), p.p);
    EXPECT_EQ(p.p->packetNumClusterSlots, 1u);
    EXPECT_EQ(p.p->nodes[Index(p.p, "usea")].slotIndex[0], 0);
    EXPECT_EQ(p.p->nodes[Index(p.p, "useb")].slotIndex[0], 0);
}

TEST(Pipeline, RadixSortOrdersRecordsByKey)
{
    struct Rec {
        uint32_t pad;
        uint32_t key;
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

TEST(Pipeline, BeforeTheStartOnlyTheModulesOwnRenderStateVectorIsAnswered)
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
}
