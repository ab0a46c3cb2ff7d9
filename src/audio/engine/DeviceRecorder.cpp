#include "audio/engine/DeviceRecorder.h"

namespace tovik {

CDeviceRecorder::~CDeviceRecorder() { Stop(); }

CDeviceRecorder& CDeviceRecorder::Instance() {
  static CDeviceRecorder instance;
  return instance;
}

bool CDeviceRecorder::Start(const std::wstring& path, int outputRate, int bitrateKbps, int channelMode) {
  std::lock_guard<std::mutex> guard(m_lock);
  if (m_started && m_writer != nullptr) m_writer->Close();
  m_started = false;
  m_writer = nullptr;
  if (!m_mp3.Open(path, outputRate, bitrateKbps, kInputRate, channelMode)) return false;
  m_writer = &m_mp3;
  m_started = true;
  return true;
}

bool CDeviceRecorder::WriteBlock(const CBuffer& block) {
  std::lock_guard<std::mutex> guard(m_lock);
  if (!m_started || m_writer == nullptr) return false;
  return m_writer->Write(block);
}

void CDeviceRecorder::Stop() {
  std::lock_guard<std::mutex> guard(m_lock);
  if (!m_started) return;
  m_started = false;
  if (m_writer != nullptr) m_writer->Close();
  m_writer = nullptr;
}

bool CDeviceRecorder::IsStarted() const {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_started;
}

}  // namespace tovik
