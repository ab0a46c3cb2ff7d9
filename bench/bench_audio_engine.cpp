// Throughput of the Skype-stream recording path against bare LAME, allocations per frame in
// steady state, memory over a two-hour call, and the time Stop takes to close the file.
#include <benchmark/benchmark.h>
#include <lame/lame.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "audio/engine/Mp3File.h"
#include "audio/engine/Recorder.h"
#include "base/Text.h"

// ---- counting allocator: every global new/delete in the process ------------------------
namespace {
std::atomic<long long> g_allocations{0};
std::atomic<long long> g_liveBytes{0};
constexpr std::size_t kHeader = 16;  // keeps max_align_t alignment
}  // namespace

void* operator new(std::size_t size) {
  void* p = std::malloc(size + kHeader);
  if (p == nullptr) throw std::bad_alloc();
  *static_cast<std::size_t*>(p) = size;
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  g_liveBytes.fetch_add(static_cast<long long>(size), std::memory_order_relaxed);
  return static_cast<char*>(p) + kHeader;
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return operator new(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& t) noexcept { return operator new(size, t); }
void operator delete(void* p) noexcept {
  if (p == nullptr) return;
  char* base = static_cast<char*>(p) - kHeader;
  g_liveBytes.fetch_sub(static_cast<long long>(*reinterpret_cast<std::size_t*>(base)), std::memory_order_relaxed);
  std::free(base);
}
void operator delete[](void* p) noexcept { operator delete(p); }
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }
void operator delete[](void* p, std::size_t) noexcept { operator delete(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { operator delete(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { operator delete(p); }

namespace {

using tovik::CBuffer;
using tovik::CMp3File;
using tovik::CRecorder;
using tovik::IWriteToFile;
namespace fs = std::filesystem;

constexpr double kPi = 3.14159265358979323846;

struct Config {
  const char* name;
  int outputRate;
  int bitrate;
  int mode;
};
const Config kConfigs[] = {{"mono 16000 Hz 32 kbit/s", 16000, 32, 0}, {"stereo 32000 Hz 64 kbit/s", 32000, 64, 1}};

// Two voices of 60 s at 16000 Hz in 320-byte frames.
struct Signal {
  std::vector<std::int16_t> mic, speaker;
  std::size_t frames = 0;
};
const Signal& Voices() {
  static const Signal s = [] {
    Signal v;
    v.frames = 6000;
    v.mic.resize(v.frames * 160);
    v.speaker.resize(v.frames * 160);
    for (std::size_t i = 0; i < v.mic.size(); ++i) {
      const double t = static_cast<double>(i) / 16000.0;
      v.mic[i] = static_cast<std::int16_t>(6000 * std::sin(2 * kPi * 440 * t) + 2000 * std::sin(2 * kPi * 1330 * t));
      v.speaker[i] = static_cast<std::int16_t>(5000 * std::sin(2 * kPi * 1000 * t) + 1500 * std::sin(2 * kPi * 2750 * t));
    }
    return v;
  }();
  return s;
}

std::string TempFile(const char* tag) {
  return (fs::temp_directory_path() / (std::string("tovik-bench-") + tag + ".mp3")).string();
}

double g_pathRtf[2] = {0, 0};
double g_bareRtf[2] = {0, 0};
double g_pathCpuRtf[2] = {0, 0};
double g_bareCpuRtf[2] = {0, 0};

// Processor time of the whole process (every thread), so a loaded machine does not blur the
// comparison the way wall time does.
double CpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

// The whole path: two producer threads put frames, the mixer mixes or interleaves them and
// the MP3 writer encodes and writes.
void BM_EnginePath(benchmark::State& state) {
  const Config& c = kConfigs[state.range(0)];
  const Signal& v = Voices();
  const std::string path = TempFile("path");
  double seconds = 0, cpu = 0;
  for (auto _ : state) {
    CRecorder recorder;
    const auto t0 = std::chrono::steady_clock::now();
    const double c0 = CpuSeconds();
    if (!recorder.Start(tovik::Utf8ToWide(path), c.outputRate, c.bitrate, c.mode)) {
      state.SkipWithError("cannot start");
      return;
    }
    std::thread mic([&] {
      for (std::size_t f = 0; f < v.frames; ++f) recorder.PutMicFrame(v.mic.data() + f * 160, 320);
    });
    std::thread speaker([&] {
      for (std::size_t f = 0; f < v.frames; ++f) recorder.PutSpeakerFrame(v.speaker.data() + f * 160, 320);
    });
    mic.join();
    speaker.join();
    recorder.Stop();
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    cpu += CpuSeconds() - c0;
  }
  const double audio = static_cast<double>(v.frames) / 100.0 * static_cast<double>(state.iterations());
  g_pathRtf[state.range(0)] = audio / seconds;
  g_pathCpuRtf[state.range(0)] = audio / cpu;
  state.counters["realtime_x"] = audio / seconds;
  state.SetLabel(c.name);
  fs::remove(path);
}

// The encoder configured as the writer configures it, for the bare-LAME baselines.
lame_t OpenBareLame(const Config& c, int channels) {
  lame_t lame = lame_init();
  lame_set_in_samplerate(lame, 16000);
  lame_set_out_samplerate(lame, c.outputRate);
  lame_set_num_channels(lame, channels);
  lame_set_mode(lame, c.mode == 0 ? MONO : (c.mode == 1 ? STEREO : JOINT_STEREO));
  lame_set_VBR(lame, vbr_off);
  lame_set_brate(lame, c.bitrate);
  lame_set_bWriteVbrTag(lame, 0);
  lame_set_write_id3tag_automatic(lame, 0);
  lame_set_disable_reservoir(lame, 1);
  lame_set_original(lame, 1);
  lame_init_params(lame);
  return lame;
}

// The same PCM (already mixed or interleaved) through libmp3lame alone, with the same settings.
void BM_BareLame(benchmark::State& state) {
  const Config& c = kConfigs[state.range(0)];
  const Signal& v = Voices();
  const int channels = c.mode == 0 ? 1 : 2;
  std::vector<std::int16_t> pcm(v.mic.size() * static_cast<std::size_t>(channels));
  for (std::size_t i = 0; i < v.mic.size(); ++i) {
    if (channels == 1) {
      pcm[i] = static_cast<std::int16_t>(std::clamp(v.mic[i] + v.speaker[i], -32768, 32767));
    } else {
      pcm[2 * i] = v.mic[i];
      pcm[2 * i + 1] = v.speaker[i];
    }
  }
  const std::string path = TempFile("bare");
  std::vector<unsigned char> out(8192);
  double seconds = 0, cpu = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    const double c0 = CpuSeconds();
    std::FILE* f = std::fopen(path.c_str(), "w+b");
    lame_t lame = OpenBareLame(c, channels);
    for (std::size_t fr = 0; fr < v.frames; ++fr) {
      short* block = pcm.data() + fr * 160 * static_cast<std::size_t>(channels);
      const int n = channels == 1 ? lame_encode_buffer(lame, block, nullptr, 160, out.data(), static_cast<int>(out.size()))
                                  : lame_encode_buffer_interleaved(lame, block, 160, out.data(), static_cast<int>(out.size()));
      if (n > 0) std::fwrite(out.data(), 1, static_cast<std::size_t>(n), f);
    }
    const int n = lame_encode_flush(lame, out.data(), static_cast<int>(out.size()));
    if (n > 0) std::fwrite(out.data(), 1, static_cast<std::size_t>(n), f);
    lame_close(lame);
    std::fclose(f);
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    cpu += CpuSeconds() - c0;
  }
  const double audio = static_cast<double>(v.frames) / 100.0 * static_cast<double>(state.iterations());
  g_bareRtf[state.range(0)] = audio / seconds;
  g_bareCpuRtf[state.range(0)] = audio / cpu;
  state.counters["realtime_x"] = audio / seconds;
  state.SetLabel(c.name);
  fs::remove(path);
}

// Interleaved runs so both sides see the same machine load.
BENCHMARK(BM_BareLame)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_EnginePath)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_BareLame)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_EnginePath)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

// Counts the blocks that reach the MP3 writer, so producers can keep pace with the mixer the
// way a live call does (never more than a second ahead).
class PacedWriter : public IWriteToFile {
 public:
  explicit PacedWriter(IWriteToFile& inner) : m_inner(inner) {}
  bool Write(const CBuffer& block) override {
    const bool ok = m_inner.Write(block);
    written.fetch_add(1, std::memory_order_release);
    return ok;
  }
  bool Close() override { return m_inner.Close(); }
  std::atomic<long long> written{0};

 private:
  IWriteToFile& m_inner;
};

long long ResidentKiB() {
  long long kib = -1;
  if (std::FILE* f = std::fopen("/proc/self/status", "r")) {
    char line[256];
    while (std::fgets(line, sizeof line, f)) {
      if (std::sscanf(line, "VmRSS: %lld kB", &kib) == 1) break;
    }
    std::fclose(f);
  }
  return kib;
}

// A simulated two-hour call: 720,000 frame pairs through the whole path, paced to stay at
// most 100 frames ahead of the writer.
void SteadyStateReport() {
  const Signal& v = Voices();
  const std::string path = TempFile("long");
  constexpr long long kPairs = 720000;
  constexpr long long kAhead = 100;
  CMp3File mp3;
  if (!mp3.Open(tovik::Utf8ToWide(path), 16000, 32, 16000, 0)) {
    std::printf("steady state: cannot open %s\n", path.c_str());
    return;
  }
  PacedWriter writer(mp3);
  CRecorder recorder;
  recorder.Start(writer, 0);

  std::atomic<long long> micPut{0};
  auto produce = [&](bool mic, long long from, long long to) {
    for (long long i = from; i < to; ++i) {
      while (i - writer.written.load(std::memory_order_acquire) > kAhead) std::this_thread::yield();
      const std::size_t f = static_cast<std::size_t>(i % static_cast<long long>(v.frames));
      if (mic) recorder.PutMicFrame(v.mic.data() + f * 160, 320);
      else recorder.PutSpeakerFrame(v.speaker.data() + f * 160, 320);
    }
  };
  auto run = [&](long long from, long long to) {
    std::thread a(produce, true, from, to);
    std::thread b(produce, false, from, to);
    a.join();
    b.join();
    while (writer.written.load() < to) std::this_thread::yield();
  };

  const long long warmup = 20000;
  run(0, warmup);
  const long long allocBefore = g_allocations.load();
  std::printf("\nSimulated two-hour call (720,000 frame pairs, mono 16000 Hz 32 kbit/s):\n");
  std::printf("  %10s %14s %12s\n", "pairs", "live heap B", "RSS KiB");
  std::printf("  %10lld %14lld %12lld\n", warmup, g_liveBytes.load(), ResidentKiB());
  const long long step = (kPairs - warmup) / 10;
  for (long long at = warmup; at < kPairs; at += step) {
    const long long to = std::min(kPairs, at + step);
    run(at, to);
    std::printf("  %10lld %14lld %12lld\n", to, g_liveBytes.load(), ResidentKiB());
  }
  const long long allocs = g_allocations.load() - allocBefore;
  std::printf("  allocations after warm-up: %lld over %lld frame pairs = %.6f per frame pair\n", allocs,
              kPairs - warmup, static_cast<double>(allocs) / static_cast<double>(kPairs - warmup));
  recorder.Stop();
  fs::remove(path);
}

// Stop with one second of frames (100 per side) still queued: time until the file is closed.
void StopToCloseReport() {
  const Signal& v = Voices();
  const std::string path = TempFile("stop");
  for (const Config& c : kConfigs) {
    for (int both = 0; both < 2; ++both) {
      std::vector<double> ms;
      for (int run = 0; run < 15; ++run) {
        CRecorder recorder;
        recorder.Start(tovik::Utf8ToWide(path), c.outputRate, c.bitrate, c.mode);
        // Microphone frames alone stay queued while the call runs (the mixer waits for the
        // other side); with both sides the mixer may already have taken some.
        for (std::size_t f = 0; f < 100; ++f) recorder.PutMicFrame(v.mic.data() + f * 160, 320);
        if (both)
          for (std::size_t f = 0; f < 100; ++f) recorder.PutSpeakerFrame(v.speaker.data() + f * 160, 320);
        const auto t0 = std::chrono::steady_clock::now();
        recorder.Stop();
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
      }
      std::sort(ms.begin(), ms.end());
      std::printf("  Stop to closed file, %s, %s: median %.2f ms, max %.2f ms\n", c.name,
                  both ? "100 pairs put just before Stop" : "100 microphone frames queued", ms[ms.size() / 2], ms.back());
    }
  }
  fs::remove(path);
}


struct Cost {
  double wall = 0, cpu = 0;
};

Cost BareOnce(const Config& c, const std::vector<std::int16_t>& pcm, std::size_t frames, const std::string& path) {
  const int channels = c.mode == 0 ? 1 : 2;
  std::vector<unsigned char> out(8192);
  const auto t0 = std::chrono::steady_clock::now();
  const double c0 = CpuSeconds();
  std::FILE* f = std::fopen(path.c_str(), "w+b");
  lame_t lame = OpenBareLame(c, channels);
  std::vector<std::int16_t> block(160 * static_cast<std::size_t>(channels));
  for (std::size_t fr = 0; fr < frames; ++fr) {
    std::memcpy(block.data(), pcm.data() + fr * block.size(), block.size() * 2);
    const int n = channels == 1 ? lame_encode_buffer(lame, block.data(), nullptr, 160, out.data(), static_cast<int>(out.size()))
                                : lame_encode_buffer_interleaved(lame, block.data(), 160, out.data(), static_cast<int>(out.size()));
    if (n > 0) std::fwrite(out.data(), 1, static_cast<std::size_t>(n), f);
  }
  const int n = lame_encode_flush(lame, out.data(), static_cast<int>(out.size()));
  if (n > 0) std::fwrite(out.data(), 1, static_cast<std::size_t>(n), f);
  lame_close(lame);
  std::fclose(f);
  return {std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), CpuSeconds() - c0};
}

// paced: producers stay at most 100 frames ahead of the writer, as a live call does.
Cost PathOnce(const Config& c, const Signal& v, const std::string& path, bool paced) {
  CMp3File mp3;
  mp3.Open(tovik::Utf8ToWide(path), c.outputRate, c.bitrate, 16000, c.mode);
  PacedWriter writer(mp3);
  CRecorder recorder;
  const auto t0 = std::chrono::steady_clock::now();
  const double c0 = CpuSeconds();
  recorder.Start(writer, c.mode);
  auto produce = [&](bool mic) {
    for (std::size_t f = 0; f < v.frames; ++f) {
      if (paced)
        while (static_cast<long long>(f) - writer.written.load(std::memory_order_acquire) > 100)
          std::this_thread::sleep_for(std::chrono::microseconds(200));
      if (mic) recorder.PutMicFrame(v.mic.data() + f * 160, 320);
      else recorder.PutSpeakerFrame(v.speaker.data() + f * 160, 320);
    }
  };
  std::thread a(produce, true);
  std::thread b(produce, false);
  a.join();
  b.join();
  recorder.Stop();
  return {std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), CpuSeconds() - c0};
}

// Bare and path runs alternate, so both see the same load from the rest of the machine; the
// median of the per-round ratios is the figure.
void InterleavedComparison() {
  const Signal& v = Voices();
  const std::string bare = TempFile("cmp-bare"), path = TempFile("cmp-path");
  const double audio = static_cast<double>(v.frames) / 100.0;
  std::printf("Interleaved rounds (median of 9), 60 s of two-sided audio per run:\n");
  for (int ci = 0; ci < 2; ++ci) {
    const Config& c = kConfigs[ci];
    const int channels = c.mode == 0 ? 1 : 2;
    std::vector<std::int16_t> pcm(v.mic.size() * static_cast<std::size_t>(channels));
    for (std::size_t i = 0; i < v.mic.size(); ++i) {
      if (channels == 1) pcm[i] = static_cast<std::int16_t>(std::clamp(v.mic[i] + v.speaker[i], -32768, 32767));
      else { pcm[2 * i] = v.mic[i]; pcm[2 * i + 1] = v.speaker[i]; }
    }
    for (int paced = 0; paced < 2; ++paced) {
      std::vector<double> bw, bc, pw, pc, rw, rc;
      for (int r = 0; r < 9; ++r) {
        const Cost b = BareOnce(c, pcm, v.frames, bare);
        const Cost p = PathOnce(c, v, path, paced != 0);
        bw.push_back(audio / b.wall); bc.push_back(audio / b.cpu);
        pw.push_back(audio / p.wall); pc.push_back(audio / p.cpu);
        rw.push_back(p.wall / b.wall); rc.push_back(p.cpu / b.cpu);
      }
      auto med = [](std::vector<double> x) { std::sort(x.begin(), x.end()); return x[x.size() / 2]; };
      std::printf("  %-26s %-9s wall: bare %6.1fx path %6.1fx cost %+5.1f%% | cpu: bare %6.1fx path %6.1fx cost %+5.1f%%\n",
                  c.name, paced ? "paced" : "unpaced", med(bw), med(pw), (med(rw) - 1) * 100, med(bc), med(pc),
                  (med(rc) - 1) * 100);
    }
  }
  fs::remove(bare);
  fs::remove(path);
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  std::printf("\nEncoding, real-time factors (audio seconds per wall second):\n");
  for (int i = 0; i < 2; ++i) {
    if (g_bareRtf[i] <= 0 || g_pathRtf[i] <= 0) continue;
    std::printf("  %-28s wall: bare LAME %7.1fx  whole path %7.1fx  path cost %+6.1f%%\n", kConfigs[i].name,
                g_bareRtf[i], g_pathRtf[i], (g_bareRtf[i] / g_pathRtf[i] - 1.0) * 100.0);
    std::printf("  %-28s  cpu: bare LAME %7.1fx  whole path %7.1fx  path cost %+6.1f%%\n", "", g_bareCpuRtf[i],
                g_pathCpuRtf[i], (g_bareCpuRtf[i] / g_pathCpuRtf[i] - 1.0) * 100.0);
  }
  std::printf("\n");
  InterleavedComparison();
  StopToCloseReport();
  SteadyStateReport();
  return 0;
}
