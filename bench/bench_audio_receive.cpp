// Receive-path cost: reassembling both streams' TCP reads into frames, filtering them and
// metering their level, alone and into the recorder's mixer (mono and stereo). Each
// iteration is one second of call audio (100 frames per side). The paced runs deliver that
// second every 10 ms (100x real time); "cpu_ms_per_audio_s" is process CPU (all threads,
// the mixer included) per second of audio.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <ctime>
#include <memory>
#include <thread>
#include <vector>

#include "audio/engine/Recorder.h"
#include "audio/input/AudioReceiver.h"

namespace tovik {
namespace {

constexpr std::size_t kBytesPerSecond = kStreamSampleRate * 2;

std::vector<std::uint8_t> Tone(double hz, std::size_t bytes) {
  std::vector<std::uint8_t> out(bytes);
  for (std::size_t i = 0; i + 1 < bytes; i += 2) {
    const auto s = static_cast<std::int16_t>(12000 * std::sin(2 * 3.14159265358979 * hz * (i / 2) / kStreamSampleRate));
    out[i] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(s) & 0xFF);
    out[i + 1] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(s) >> 8);
  }
  return out;
}

struct CountingSink : IStreamRecorder {
  bool Start(const std::wstring&, int, int, int) override { return true; }
  void SetSide(int) override {}
  void Stop() override {}
  void Abort() override {}
  bool PutMicFrame(const void* data, std::size_t size) override { return Take(data, size); }
  bool PutSpeakerFrame(const void* data, std::size_t size) override { return Take(data, size); }
  bool Take(const void* data, std::size_t size) {
    benchmark::DoNotOptimize(static_cast<const std::uint8_t*>(data)[size - 1]);
    ++frames;
    return true;
  }
  std::size_t frames = 0;
};

struct CountingWriter : IWriteToFile {
  bool Write(const CBuffer& block) override {
    bytes += static_cast<std::size_t>(block.Size());
    return true;
  }
  bool Close() override { return true; }
  std::atomic<std::size_t> bytes{0};
};

// One second of both streams, fed as reads of `segment` bytes (interleaved mic, speaker).
void FeedSecond(CAudioReceiver& receiver, const std::vector<std::uint8_t>& mic, const std::vector<std::uint8_t>& spk,
                std::size_t segment) {
  for (std::size_t off = 0; off < kBytesPerSecond; off += segment) {
    const std::size_t n = std::min(segment, kBytesPerSecond - off);
    PollResult r;
    r.events = kNetRead;
    r.socket = 1;
    r.received = n;
    receiver.OnPoll(AudioStream::Mic, 0, r, mic.data() + off);
    r.socket = 2;
    receiver.OnPoll(AudioStream::Speaker, 0, r, spk.data() + off);
  }
}

std::unique_ptr<CAudioReceiver> MakeReceiver(std::unique_ptr<IStreamRecorder> recorder) {
  auto receiver = std::make_unique<CAudioReceiver>(nullptr, nullptr, std::move(recorder));
  receiver->SetWindow([](unsigned, std::intptr_t w, std::intptr_t) { benchmark::DoNotOptimize(w); });
  receiver->SetRecordingState(REC_RECORDING);
  return receiver;
}

// Process CPU time, all threads: the paced runs spend most of their wall time asleep.
double ProcessCpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

void Report(benchmark::State& state, double frames, double cpuSeconds) {
  const double iterations = static_cast<double>(state.iterations());
  state.counters["frames_per_cpu_s"] = cpuSeconds > 0 ? frames / cpuSeconds : 0;
  state.counters["cpu_ms_per_audio_s"] = iterations > 0 ? 1000.0 * cpuSeconds / iterations : 0;
}

// Reassembly, filtering and metering only. Arg: TCP read size.
void BM_ReceivePath(benchmark::State& state) {
  const auto segment = static_cast<std::size_t>(state.range(0));
  const auto mic = Tone(440, kBytesPerSecond), spk = Tone(660, kBytesPerSecond);
  auto sink = std::make_unique<CountingSink>();
  CountingSink* counted = sink.get();
  auto receiver = MakeReceiver(std::move(sink));
  const double cpu0 = ProcessCpuSeconds();
  for (auto _ : state) FeedSecond(*receiver, mic, spk, segment);
  Report(state, static_cast<double>(counted->frames), ProcessCpuSeconds() - cpu0);
}
BENCHMARK(BM_ReceivePath)->Arg(320)->Arg(700)->Arg(1022)->Arg(100)->MeasureProcessCPUTime();

// Into the recorder's mixer. Args: channel mode (0 mono, 1 stereo), paced at 100x (1) or not.
void BM_ReceiveIntoRecorder(benchmark::State& state) {
  const int mode = static_cast<int>(state.range(0));
  const bool paced = state.range(1) != 0;
  const auto mic = Tone(440, kBytesPerSecond), spk = Tone(660, kBytesPerSecond);
  auto recorder = std::make_unique<CRecorder>();
  CRecorder& engine = *recorder;
  CountingWriter writer;
  auto receiver = MakeReceiver(std::make_unique<CRecorderAdapter<CRecorder>>(std::move(recorder)));
  if (!engine.Start(writer, mode)) {
    state.SkipWithError("recorder did not start");
    return;
  }
  const double cpu0 = ProcessCpuSeconds();
  auto next = std::chrono::steady_clock::now();
  for (auto _ : state) {
    FeedSecond(*receiver, mic, spk, 1022);
    if (paced) {
      next += std::chrono::milliseconds(10);
      std::this_thread::sleep_until(next);
    }
  }
  engine.Stop();
  const double cpuSeconds = ProcessCpuSeconds() - cpu0;
  // Written bytes per frame pair: 320 mono, 640 stereo.
  const double pairs = static_cast<double>(writer.bytes.load()) / (mode == 0 ? 320.0 : 640.0);
  Report(state, 2 * pairs, cpuSeconds);
  state.counters["pairs_written"] = pairs;
}
BENCHMARK(BM_ReceiveIntoRecorder)
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->ArgNames({"stereo", "paced100x"})
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->MinTime(2.0);

}  // namespace
}  // namespace tovik

BENCHMARK_MAIN();
