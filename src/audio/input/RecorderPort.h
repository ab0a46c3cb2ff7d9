#pragma once
// What the receiver needs from the recording engine. The engine's CRecorder is adapted
// with CRecorderAdapter, so the receiver does not depend on how the engine is built.
#include <cstddef>
#include <memory>
#include <string>

namespace tovik {

struct IFrameSink {
  virtual ~IFrameSink() = default;
  virtual bool PutMicFrame(const void* data, std::size_t size) = 0;
  virtual bool PutSpeakerFrame(const void* data, std::size_t size) = 0;
};

struct IStreamRecorder : IFrameSink {
  virtual bool Start(const std::wstring& path, int outputRate, int bitrateKbps, int channelMode) = 0;
  virtual void SetSide(int side) = 0;
  virtual void Stop() = 0;
  virtual void Abort() = 0;
};

// Forwards to any recorder class with the engine's operations; owns it or borrows it.
template <class Recorder>
class CRecorderAdapter final : public IStreamRecorder {
 public:
  explicit CRecorderAdapter(std::unique_ptr<Recorder> owned) : owned_(std::move(owned)), recorder_(*owned_) {}
  explicit CRecorderAdapter(Recorder& borrowed) : recorder_(borrowed) {}

  bool Start(const std::wstring& path, int outputRate, int bitrateKbps, int channelMode) override {
    return recorder_.Start(path, outputRate, bitrateKbps, channelMode);
  }
  void SetSide(int side) override { recorder_.SetSide(side); }
  void Stop() override { recorder_.Stop(); }
  void Abort() override { recorder_.Abort(); }
  bool PutMicFrame(const void* data, std::size_t size) override { return recorder_.PutMicFrame(data, size); }
  bool PutSpeakerFrame(const void* data, std::size_t size) override {
    return recorder_.PutSpeakerFrame(data, size);
  }

  Recorder& Get() { return recorder_; }

 private:
  std::unique_ptr<Recorder> owned_;
  Recorder& recorder_;
};

}  // namespace tovik
