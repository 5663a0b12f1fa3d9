// Speed of the body coders, per message, beside a plain copy of the same frame: encoding Get2 and
// TraceJob requests, decoding a Get2 reply of 8 job objects (attributes 280, 283, 277) and an
// event notification of events 154 and 18.
#include <benchmark/benchmark.h>

#include <string.h>

#include "../tests/WireBytes.h"
#include "DmlpBodies.h"

namespace {

Bytes JobIdWire() { return Wire().u32(0x11223344).u16(0x5566).u16(0x7788).fill(8, 'A').fill(48, 'J'); }

Bytes Get2Reply()
{
    Wire body;
    body.u16(8);
    for (uint32_t job = 0; job < 8; ++job) {
        const Bytes state = Wire().u8(3).u8(0).u8(0).u8(1).u32(0x1001).u32(7).u16(1).u16(6004).u16(1).u8(4);
        body.u32(0x1000 + job).u16(3);
        body.u16(280).u16(64).raw(JobIdWire());
        body.u16(283).u16((uint32_t)state.size()).raw(state);
        body.u16(277).u16(4).u32(job * 10);
    }
    return Frame(102, body);
}

Bytes Notification()
{
    Wire body;
    body.u32(3).u8(2);
    body.u16(154).u8(0).u16(1).u32(0x1001).u16(2).u32(3).u8(4).u8(5).u8(1).u32(0x50).u32(0x44).raw(JobIdWire())
        .u16(0);
    body.u16(18).u8(0).u16(1).u32(0x1001).u32(2).u32(3).u32(4).u32(5).u32(123).u32(7).u32(8).u16(9).u16(10).u16(11)
        .u8(2).u8('o').u8('k');
    return Frame(10, body);
}

DmlpHeader Header(uint16_t method)
{
    DmlpHeader header = {};
    header.magic = DMLP_HEADER_MAGIC;
    header.version = DMLP_HEADER_VERSION;
    header.method = method;
    return header;
}

void Encode(benchmark::State& state, uint16_t method, const void* params)
{
    DmlpCoderInitialize();
    uint8_t buffer[512];
    for (auto _ : state) {
        DmlpHeader header = Header(method);
        DmlpCursor out = {buffer, sizeof buffer};
        if (DmlpEncodeMessage(&header, params, &out) != DMLP_CODER_OK)
            state.SkipWithError("encode failed");
        benchmark::DoNotOptimize(buffer);
        state.counters["bytes"] = out.count;
    }
}

void BM_EncodeGet2(benchmark::State& state)
{
    const uint32_t typed = 0x2A;
    const uint32_t objects[] = {0x100, 0x200};
    const uint16_t ids[] = {280, 283, 277};
    const DmlpGet2Params params = {1, 1, 0, &typed, 2, objects, 3, ids};
    Encode(state, 102, &params);
}

void BM_EncodeTraceJob(benchmark::State& state)
{
    const uint16_t ids[] = {6004, 277};
    DmlpTraceJobParams params = {0x77, 2, {}, 2, ids};
    params.clJobId.Data1 = 0x11223344;
    memset(params.clJobId.JobText, 'J', sizeof params.clJobId.JobText);
    Encode(state, 109, &params);
}

void Decode(benchmark::State& state, const Bytes& frame)
{
    DmlpCoderInitialize();
    alignas(8) uint8_t record[DMLP_PARAM_HANDED_OUT];
    for (auto _ : state) {
        memset(record, 0, sizeof record);
        DmlpHeader header;
        DmlpDecodeContext context = {record, nullptr, 0};
        DmlpCursor in = {(uint8_t*)frame.data(), (int32_t)frame.size()};
        if (DmlpDecodeMessage(&header, &context, &in, nullptr) != DMLP_CODER_OK || context.held == nullptr) {
            state.SkipWithError("decode failed");
            break;
        }
        benchmark::DoNotOptimize(record);
        DmlpFree(context.held->data);
    }
    state.counters["bytes"] = (double)frame.size();
}

void BM_DecodeGet2Of8Jobs(benchmark::State& state) { Decode(state, Get2Reply()); }

void BM_DecodeNotification154And18(benchmark::State& state) { Decode(state, Notification()); }

// The reference: a plain copy of the same frame.
void Copy(benchmark::State& state, const Bytes& frame)
{
    std::vector<uint8_t> copy(frame.size());
    for (auto _ : state) {
        memcpy(copy.data(), frame.data(), frame.size());
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    state.counters["bytes"] = (double)frame.size();
}

void BM_MemcpyGet2Of8Jobs(benchmark::State& state) { Copy(state, Get2Reply()); }

void BM_MemcpyNotification154And18(benchmark::State& state) { Copy(state, Notification()); }

BENCHMARK(BM_EncodeGet2);
BENCHMARK(BM_EncodeTraceJob);
BENCHMARK(BM_DecodeGet2Of8Jobs);
BENCHMARK(BM_MemcpyGet2Of8Jobs);
BENCHMARK(BM_DecodeNotification154And18);
BENCHMARK(BM_MemcpyNotification154And18);

} // namespace

BENCHMARK_MAIN();
