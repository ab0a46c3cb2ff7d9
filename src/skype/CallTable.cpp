#include "skype/CallTable.h"

#include "base/Text.h"
#include "skype/SkypeCodes.h"

namespace tovik {
namespace {

bool TakesSlot(int code) {
  return code == CALL_UNPLACED || code == CALL_ROUTING || code == CALL_EARLYMEDIA ||
         code == CALL_RINGING || code == CALL_INPROGRESS || code == CALL_ONHOLD;
}

bool IsLive(int code) { return code == CALL_INPROGRESS || code == CALL_ONHOLD; }

}  // namespace

CCallTable::CCallTable(std::function<bool(const std::wstring&)> postCommand,
                       std::function<std::int64_t()> now)
    : m_postCommand(std::move(postCommand)), m_now(std::move(now)) {}

int CCallTable::FindLocked(const std::wstring& trimmedId) const {
  if (trimmedId.empty()) return -1;
  for (int i = 0; i < kSlots; ++i)
    if (m_slots[i].id == trimmedId) return i;
  return -1;
}

int CCallTable::FindOrAddLocked(const std::wstring& id, std::wstring& query) {
  const std::wstring trimmed = TrimW(id);
  if (trimmed.empty()) return -1;
  const int found = FindLocked(trimmed);
  if (found >= 0) return found;
  for (int i = 0; i < kSlots; ++i) {
    Slot& s = m_slots[i];
    if (!s.id.empty()) continue;
    s.id = trimmed;
    s.partner.clear();
    s.startTime = m_now ? m_now() : 0;
    query = L"get call " + trimmed + L" partner_handle";
    return i;
  }
  return -1;
}

int CCallTable::FindOrAdd(const std::wstring& id) {
  std::wstring query;
  int slot;
  {
    std::lock_guard<std::mutex> hold(m_lock);
    slot = FindOrAddLocked(id, query);
  }
  if (!query.empty() && m_postCommand) m_postCommand(query);
  return slot;
}

int CCallTable::Find(const std::wstring& id) const {
  std::lock_guard<std::mutex> hold(m_lock);
  return FindLocked(TrimW(id));
}

int CCallTable::StatusOf(const std::wstring& id) const {
  std::lock_guard<std::mutex> hold(m_lock);
  const int slot = FindLocked(TrimW(id));
  return slot < 0 ? 0 : m_slots[slot].status;
}

int CCallTable::StatusAt(int slot) const {
  if (slot < 0 || slot >= kSlots) return 0;
  std::lock_guard<std::mutex> hold(m_lock);
  return m_slots[slot].status;
}

std::wstring CCallTable::IdAt(int slot) const {
  if (slot < 0 || slot >= kSlots) return {};
  std::lock_guard<std::mutex> hold(m_lock);
  return m_slots[slot].id;
}

std::wstring CCallTable::PartnerAt(int slot) const {
  if (slot < 0 || slot >= kSlots) return {};
  std::lock_guard<std::mutex> hold(m_lock);
  return m_slots[slot].partner;
}

std::int64_t CCallTable::StartTimeAt(int slot) const {
  if (slot < 0 || slot >= kSlots) return 0;
  std::lock_guard<std::mutex> hold(m_lock);
  return m_slots[slot].startTime;
}

int CCallTable::UpdateStatus(const std::wstring& id, int code) {
  std::wstring query;
  int slot;
  {
    std::lock_guard<std::mutex> hold(m_lock);
    slot = FindLocked(TrimW(id));
    if (slot < 0 && TakesSlot(code)) slot = FindOrAddLocked(id, query);
    if (slot >= 0) m_slots[slot].status = code;
  }
  if (!query.empty() && m_postCommand) m_postCommand(query);
  return slot;
}

int CCallTable::SetPartner(const std::wstring& id, const std::wstring& handle) {
  std::wstring query;
  int slot;
  {
    std::lock_guard<std::mutex> hold(m_lock);
    slot = FindOrAddLocked(id, query);
    if (slot >= 0) m_slots[slot].partner = handle;
  }
  if (!query.empty() && m_postCommand) m_postCommand(query);
  return slot;
}

int CCallTable::Count() const {
  std::lock_guard<std::mutex> hold(m_lock);
  int n = 0;
  for (const Slot& s : m_slots)
    if (!s.id.empty() && s.status != 0) ++n;
  return n;
}

bool CCallTable::AnyInProgress() const {
  std::lock_guard<std::mutex> hold(m_lock);
  for (const Slot& s : m_slots)
    if (s.status == CALL_INPROGRESS) return true;
  return false;
}

bool CCallTable::AnyActive() const {
  std::lock_guard<std::mutex> hold(m_lock);
  for (const Slot& s : m_slots)
    if (!s.id.empty() && IsLive(s.status)) return true;
  return false;
}

std::pair<std::wstring, std::wstring> CCallTable::PickActiveCall() const {
  const std::int64_t now = m_now ? m_now() : 0;
  std::lock_guard<std::mutex> hold(m_lock);
  int best = -1;
  for (int i = 0; i < kSlots; ++i) {
    const Slot& s = m_slots[i];
    if (s.id.empty() || !IsLive(s.status) || s.startTime > now) continue;
    // On equal start times the later slot wins.
    if (best < 0 || s.startTime <= m_slots[best].startTime) best = i;
  }
  if (best < 0) return {};
  return {m_slots[best].id, m_slots[best].partner};
}

std::wstring CCallTable::PartnerOf(const std::wstring& id) const {
  std::lock_guard<std::mutex> hold(m_lock);
  for (const Slot& s : m_slots)
    if (!s.id.empty() && s.id == id) return s.partner;
  return {};
}

bool CCallTable::IsPartner(const std::wstring& handle) const {
  std::lock_guard<std::mutex> hold(m_lock);
  for (const Slot& s : m_slots)
    if (EqualsNoCase(s.partner, handle)) return true;
  return false;
}

void CCallTable::Reset() {
  std::lock_guard<std::mutex> hold(m_lock);
  for (Slot& s : m_slots) s = Slot{};
}

void CCallPartnerMap::Set(const std::wstring& id, const std::wstring& handle) {
  for (auto& pair : m_pairs) {
    if (EqualsNoCase(pair.first, id)) {
      pair.second = handle;
      return;
    }
  }
  m_pairs.emplace_back(id, handle);
}

std::wstring CCallPartnerMap::Get(const std::wstring& id) const {
  for (const auto& pair : m_pairs)
    if (EqualsNoCase(pair.first, id)) return pair.second;
  return id;
}

std::wstring CCallPartnerMap::MapList(const std::wstring& ids) const {
  std::wstring out;
  bool first = true;
  for (const std::wstring& token : Split(ids, L",")) {
    if (token.empty()) continue;
    if (!first) out += L',';
    out += Get(token);
    first = false;
  }
  return out;
}

}  // namespace tovik
