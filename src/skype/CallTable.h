#pragma once
// The calls Skype has told us about (20 slots) and the lasting map from call ids to
// partner handles that the history uses after the table has been reset.
#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace tovik {

class CCallTable {
 public:
  static constexpr int kSlots = 20;
  // `postCommand` queues the partner query for a newly taken slot; `now` gives seconds
  // since 1970 UTC for the slot's start time.
  CCallTable(std::function<bool(const std::wstring&)> postCommand, std::function<std::int64_t()> now);

  int FindOrAdd(const std::wstring& id);
  int Find(const std::wstring& id) const;
  int StatusOf(const std::wstring& id) const;
  int StatusAt(int slot) const;
  std::wstring IdAt(int slot) const;
  std::wstring PartnerAt(int slot) const;
  std::int64_t StartTimeAt(int slot) const;
  int UpdateStatus(const std::wstring& id, int code);
  int SetPartner(const std::wstring& id, const std::wstring& handle);
  int Count() const;
  bool AnyInProgress() const;
  bool AnyActive() const;
  // (id, partner) of the live call that started first; both empty when none.
  std::pair<std::wstring, std::wstring> PickActiveCall() const;
  std::wstring PartnerOf(const std::wstring& id) const;
  bool IsPartner(const std::wstring& handle) const;
  void Reset();

 private:
  struct Slot {
    std::wstring id;
    std::wstring partner;
    int status = 0;
    std::int64_t startTime = 0;
  };
  // Both need m_lock held. The partner query to send, if any, goes to `query`.
  int FindLocked(const std::wstring& trimmedId) const;
  int FindOrAddLocked(const std::wstring& id, std::wstring& query);

  // The audio receive threads read the table (RedirectAgain) while the UI thread
  // writes it, so every operation takes the lock; commands are posted after it is
  // released.
  mutable std::mutex m_lock;
  std::array<Slot, kSlots> m_slots;
  std::function<bool(const std::wstring&)> m_postCommand;
  std::function<std::int64_t()> m_now;
};

class CCallPartnerMap {
 public:
  void Set(const std::wstring& id, const std::wstring& handle);
  // The partner of the call, or the id itself when none is known.
  std::wstring Get(const std::wstring& id) const;
  // "id1,id2" -> "partner1,partner2"; empty tokens are skipped.
  std::wstring MapList(const std::wstring& ids) const;

 private:
  std::vector<std::pair<std::wstring, std::wstring>> m_pairs;
};

}  // namespace tovik
