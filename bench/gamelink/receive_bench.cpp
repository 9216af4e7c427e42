// One 4096-byte pipe read full of small frames (the last one cut by the read's end):
// cut, dispatched to the generic command, posted to four polled queues. The
// diagnostic lines go to /dev/null, as they would to an unread stream.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "common/log.h"
#include "events/event_queues.h"
#include "events/event_registry.h"
#include "gamelink/command_handler.h"
#include "gamelink/frame_bytes.h"
#include "gamelink/generic_gantry_command.h"

namespace {

constexpr size_t kReadSize = 4096;

kiln::ByteVector FullRead(size_t* wholeFrames) {
  const char* names[] = {"ScoreChanged", "PlayerMoved", "LobbyJoined", "MatchTick"};
  std::string bytes;
  *wholeFrames = 0;
  for (size_t i = 0; bytes.size() < kReadSize; ++i) {
    std::string frame = FrameBytes(names[i % 4], std::to_string(i) + " 7 blue " + std::to_string(i * 31 % 1000));
    if (bytes.size() + frame.size() <= kReadSize) ++*wholeFrames;
    bytes += frame;
  }
  bytes.resize(kReadSize);
  return ToBytes(bytes);
}

void BM_ReceiveFullRead(benchmark::State& state) {
  EventQueues queues{u"MARBLE-GAME"};
  kiln::CommandHandler handler(new GenericGantryCommand(Widen("MARBLE-GAME"), queues));
  const char* const pages[] = {"page-a", "page-b", "page-c", "page-d"};
  for (const char* page : pages) queues.TakeEventFromQueue(page);

  size_t wholeFrames = 0;
  const kiln::ByteVector read = FullRead(&wholeFrames);
  kiln::ByteVector received;
  received.reserve(2 * kReadSize);
  for (auto _ : state) {
    received.assign(read.begin(), read.end());
    if (!handler.handleReceivedData(received)) state.SkipWithError("frames refused");
    benchmark::DoNotOptimize(received.data());
    state.PauseTiming();
    for (const char* page : pages) {
      while (queues.TakeEventFromQueue(page)) {
      }
    }
    state.ResumeTiming();
  }
  state.counters["frames_per_read"] = static_cast<double>(wholeFrames);
  state.counters["frames_per_s"] =
      benchmark::Counter(static_cast<double>(wholeFrames) * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.SetBytesProcessed(static_cast<int64_t>(kReadSize) * state.iterations());
}
BENCHMARK(BM_ReceiveFullRead)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  if (!freopen("/dev/null", "w", stderr)) return 1;
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
