#include "history/RecordStore.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "base/Text.h"

static_assert(sizeof(pugi::char_t) == 1, "the store keeps its DOM in UTF-8 (pugixml without wchar mode)");

namespace tovik {
namespace fs = std::filesystem;

namespace {

// Keep the declaration so a loaded file keeps its own; drop white-space-only text; never
// read a DOCTYPE into the DOM, so no entity it declares is ever expanded.
constexpr unsigned kParseOptions = pugi::parse_default | pugi::parse_declaration;
// Indentation grows with depth, so a deeply nested hand-made file would be written in
// quadratic size; beyond this depth the file is written without it.
constexpr unsigned kMaxIndentedDepth = 16;

constexpr const char* kValueNames[] = {"name", "time", "file", "type", "duration", "new", "note"};
constexpr std::string_view kLineBreak = "\r\n";
constexpr std::string_view kLineBreakMark = "alinedd";

CRecordStore* g_instance = nullptr;

fs::path PathFromWide(const std::wstring& w) {
#ifdef _WIN32
  return fs::path(w);
#else
  const std::string utf8 = WideToUtf8(w);
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
#endif
}

std::wstring WideFromPath(const fs::path& p) {
#ifdef _WIN32
  return p.wstring();
#else
  const std::u8string u8 = p.u8string();
  return Utf8ToWide(std::string(u8.begin(), u8.end()));
#endif
}

fs::path ResolveHistoryPath(const std::wstring& path) {
  if (path.empty()) return {};
  const wchar_t last = path.back();
  fs::path p = PathFromWide(path);
  std::error_code ec;
  if (last == L'\\' || last == L'/') {
    p = PathFromWide(path + CRecordStore::kFileName);
  } else if (fs::is_directory(p, ec)) {
    p /= CRecordStore::kFileName;
  }
  return p.make_preferred();
}

std::int64_t SystemSeconds() {
  using namespace std::chrono;
  return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

// "%Y%m%d%H%M%S" in UTC; empty when the moment has no four-digit year.
std::string FormatUtcStamp(std::int64_t secs) {
  using namespace std::chrono;
  constexpr std::int64_t kLast = 253402300799;  // 9999-12-31 23:59:59
  if (secs < 0 || secs > kLast) return {};
  const sys_seconds tp{seconds{secs}};
  const sys_days day = floor<days>(tp);
  const year_month_day ymd{day};
  const hh_mm_ss hms{tp - day};
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d%02u%02u%02d%02d%02d", static_cast<int>(ymd.year()),
                static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                static_cast<int>(hms.hours().count()), static_cast<int>(hms.minutes().count()),
                static_cast<int>(hms.seconds().count()));
  return buf;
}

// Leading blanks and a sign, then digits up to the first other character; 0 without a
// digit. Saturates instead of wrapping, so a damaged value stays in range.
std::int32_t ParseInt32(const std::string& s) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || (s[i] >= '\t' && s[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  std::int64_t v = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    v = v * 10 + (s[i] - '0');
    if (v > std::int64_t{INT32_MAX} + 1) break;
  }
  if (negative) v = -v;
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX));
}

std::string ReplaceAll(std::string s, std::string_view from, std::string_view to) {
  std::string out;
  out.reserve(s.size());
  size_t pos = 0;
  for (size_t hit; (hit = s.find(from, pos)) != std::string::npos; pos = hit + from.size()) {
    out.append(s, pos, hit - pos);
    out.append(to);
  }
  out.append(s, pos, std::string::npos);
  return out;
}

// Characters XML 1.0 does not allow (C0 controls other than tab, LF, CR, and U+FFFE,
// U+FFFF) would make the whole file unreadable to a conforming parser; they become
// U+FFFD. The input is valid UTF-8.
std::string ToXmlText(const std::wstring& text) {
  const std::string in = WideToUtf8(text);
  std::string out;
  out.reserve(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(in[i]);
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
      out += "\xEF\xBF\xBD";
    } else if (c == 0xEF && i + 2 < in.size() && static_cast<unsigned char>(in[i + 1]) == 0xBF &&
               (static_cast<unsigned char>(in[i + 2]) & 0xFE) == 0xBE) {
      out += "\xEF\xBF\xBD";
      i += 2;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// The text content of an element: all text below it, in document order. Walks without
// recursion, so nesting of any depth is safe.
std::string TextOf(pugi::xml_node element) {
  pugi::xml_node first = element.first_child();
  if (first && !first.next_sibling() && (first.type() == pugi::node_pcdata || first.type() == pugi::node_cdata))
    return first.value();
  std::string out;
  pugi::xml_node cur = first;
  while (cur) {
    if (cur.type() == pugi::node_pcdata || cur.type() == pugi::node_cdata) out += cur.value();
    if (cur.first_child()) {
      cur = cur.first_child();
      continue;
    }
    while (cur != element && !cur.next_sibling()) cur = cur.parent();
    if (cur == element) break;
    cur = cur.next_sibling();
  }
  return out;
}

bool SetText(pugi::xml_node element, const std::string& value) {
  if (!element.remove_children()) return false;
  if (value.empty()) return true;
  pugi::xml_node text = element.append_child(pugi::node_pcdata);
  return text && text.set_value(value.c_str());
}

pugi::xml_node ChildOrNew(pugi::xml_node parent, const char* name) {
  pugi::xml_node child = parent.child(name);
  return child ? child : parent.append_child(name);
}

// Stored text equals `key` (already converted by ToXmlText). Text that is not valid
// UTF-8 or holds characters XML forbids reads back altered, so it is compared the way
// the caller saw it.
bool SameText(const std::string& stored, const std::string& key) {
  if (stored == key) return true;
  const bool plain = std::all_of(stored.begin(), stored.end(), [](char ch) {
    const unsigned char c = static_cast<unsigned char>(ch);
    return c >= 0x20 && c < 0x80;
  });
  return !plain && ToXmlText(Utf8ToWide(stored)) == key;
}

void AddDeclaration(pugi::xml_document& doc) {
  pugi::xml_node decl = doc.prepend_child(pugi::node_declaration);
  if (!decl) return;
  decl.append_attribute("version") = "1.0";
  decl.append_attribute("encoding") = "UTF-8";
  decl.append_attribute("standalone") = "no";
}

// The file is always written in UTF-8; a loaded declaration that names another encoding
// would make every reader, this store included, misread it.
void DeclareUtf8(pugi::xml_document& doc) {
  for (pugi::xml_node n = doc.first_child(); n; n = n.next_sibling()) {
    if (n.type() != pugi::node_declaration) continue;
    pugi::xml_attribute enc = n.attribute("encoding");
    if (enc && !EqualsNoCase(Utf8ToWide(enc.value()), L"UTF-8")) enc.set_value("UTF-8");
    return;
  }
}

class FileWriter : public pugi::xml_writer {
 public:
  explicit FileWriter(std::FILE* f) : file_(f) {}
  void write(const void* data, size_t size) override {
    if (ok_ && std::fwrite(data, 1, size, file_) != size) ok_ = false;
  }
  bool ok() const { return ok_; }

 private:
  std::FILE* file_;
  bool ok_ = true;
};

std::FILE* OpenForWriting(const fs::path& p) {
#ifdef _WIN32
  return _wfopen(p.c_str(), L"wb");
#else
  return std::fopen(p.c_str(), "wb");
#endif
}

// The data must be on disk before the rename makes it "record.xml"; otherwise a power
// cut could leave the new name on an empty file.
bool FlushToDisk(std::FILE* f) {
  if (std::fflush(f) != 0) return false;
#ifdef _WIN32
  return _commit(_fileno(f)) == 0;
#else
  return fsync(fileno(f)) == 0;
#endif
}

bool DeeperThan(const pugi::xml_document& doc, unsigned limit) {
  unsigned depth = 0;
  pugi::xml_node cur = doc.first_child();
  while (cur) {
    if (cur.first_child()) {
      if (++depth > limit) return true;
      cur = cur.first_child();
      continue;
    }
    while (cur && !cur.next_sibling()) {
      cur = cur.parent();
      if (cur == doc) return false;
      --depth;
    }
    if (cur) cur = cur.next_sibling();
  }
  return false;
}

bool WriteDocument(const pugi::xml_document& doc, const fs::path& p) {
  std::FILE* f = OpenForWriting(p);
  if (!f) return false;
  FileWriter writer(f);
  const unsigned layout = DeeperThan(doc, kMaxIndentedDepth) ? pugi::format_raw : pugi::format_indent;
  doc.save(writer, "\t", layout | pugi::format_no_declaration, pugi::encoding_utf8);
  bool ok = writer.ok() && FlushToDisk(f);
  if (std::fclose(f) != 0) ok = false;
  return ok;
}

}  // namespace

CRecordStore::CRecordStore() : CRecordStore(Clock{}) {}

CRecordStore::CRecordStore(Clock clock) : clock_(clock ? std::move(clock) : Clock(SystemSeconds)) {}

CRecordStore& CRecordStore::Instance() {
  if (!g_instance) g_instance = new CRecordStore();
  return *g_instance;
}

void CRecordStore::DeleteInstance() {
  delete g_instance;
  g_instance = nullptr;
}

void CRecordStore::Open(const std::wstring& path) {
  std::lock_guard<std::mutex> guard(lock_);
  doc_.reset();
  list_ = pugi::xml_node();
  records_.clear();
  keepUnreadable_ = false;
  saved_ = true;
  path_ = ResolveHistoryPath(path);
  if (path_.empty()) return;

  std::error_code ec;
  const bool missing = !fs::exists(path_, ec) && !ec;
  if (missing) {
    AddDeclaration(doc_);
  } else if (!doc_.load_file(path_.c_str(), kParseOptions, pugi::encoding_auto)) {
    // A failed parse leaves a partial tree behind; the history starts empty instead, and
    // the unreadable file is kept aside before anything replaces it.
    doc_.reset();
    AddDeclaration(doc_);
    keepUnreadable_ = true;
  }
  EnsureListLocked();
}

bool CRecordStore::EnsureListLocked() {
  if (list_) return true;
  pugi::xml_node root = doc_.document_element();
  if (!root) root = doc_.append_child("rezev");
  if (!root) return false;
  pugi::xml_node list = ChildOrNew(root, "list");
  if (!list) return false;
  list_ = list;
  records_.clear();
  // Only elements can hold the value elements; stray text between records is no record.
  for (pugi::xml_node n = list.first_child(); n; n = n.next_sibling())
    if (n.type() == pugi::node_element) records_.push_back(n);
  return true;
}

int CRecordStore::GetCount() const {
  std::lock_guard<std::mutex> guard(lock_);
  return static_cast<int>(std::min<size_t>(records_.size(), INT_MAX));
}

bool CRecordStore::GetRecord(int index, CRecordItem& record) {
  std::lock_guard<std::mutex> guard(lock_);
  if (!EnsureListLocked()) return false;
  if (index < 0 || static_cast<size_t>(index) >= records_.size()) return false;
  const pugi::xml_node rec = records_[static_cast<size_t>(index)];

  // Read in this order, each element found or created by name; empty or unknown values
  // are repaired in memory only.
  const auto text = [&](const char* name, std::string& out) {
    pugi::xml_node el = ChildOrNew(rec, name);
    if (!el) return pugi::xml_node();
    out = TextOf(el);
    return el;
  };
  const auto number = [&](const char* name, std::int32_t& out) {
    std::string s;
    pugi::xml_node el = text(name, s);
    if (!el) return false;
    if (s.empty()) {
      out = 0;
      return SetText(el, "0");
    }
    out = ParseInt32(s);
    return true;
  };
  std::string s;
  if (!text("name", s)) return false;
  record.name = Utf8ToWide(s);
  if (!text("time", s)) return false;
  record.time = Utf8ToWide(s);
  if (!text("file", s)) return false;
  record.file = Utf8ToWide(s);
  if (!number("type", record.type)) return false;
  pugi::xml_node isNew = text("new", s);
  if (!isNew) return false;
  if (s == "true" || s == "false") {
    record.isNew = s == "true";
  } else {
    record.isNew = false;
    if (!SetText(isNew, "false")) return false;
  }
  if (!number("duration", record.duration)) return false;
  if (!text("note", s)) return false;
  record.note = Utf8ToWide(ReplaceAll(s, kLineBreakMark, kLineBreak));
  return true;
}

pugi::xml_node CRecordStore::FindLocked(const std::string& name, const std::string& time) {
  for (const pugi::xml_node rec : records_) {
    const pugi::xml_node n = ChildOrNew(rec, "name");
    const pugi::xml_node t = ChildOrNew(rec, "time");
    if (SameText(TextOf(n), name) && SameText(TextOf(t), time)) return rec;
  }
  return {};
}

bool CRecordStore::FindRecord(const std::wstring& name, const std::wstring& time, pugi::xml_node* element) {
  std::lock_guard<std::mutex> guard(lock_);
  if (!EnsureListLocked()) return false;
  const pugi::xml_node found = FindLocked(ToXmlText(name), ToXmlText(time));
  if (element) *element = found;
  return static_cast<bool>(found);
}

std::string CRecordStore::NewElementNameLocked() const {
  // Readers ignore the name, but an older writer looks its record up by it, so two
  // records added within one second must not share one.
  const std::string base = "rec" + FormatUtcStamp(clock_());
  std::string name = base;
  for (unsigned n = 2; list_.child(name.c_str()); ++n) name = base + "_" + std::to_string(n);
  return name;
}

bool CRecordStore::AddRecord(const CRecordItem& record) {
  std::lock_guard<std::mutex> guard(lock_);
  if (!EnsureListLocked()) return false;
  const std::string name = ToXmlText(record.name);
  const std::string time = ToXmlText(record.time);
  if (FindLocked(name, time)) return false;

  const std::string values[] = {
      name,
      time,
      ToXmlText(record.file),
      std::to_string(record.type),
      std::to_string(record.duration),
      record.isNew ? "true" : "false",
      ReplaceAll(ToXmlText(record.note), kLineBreak, kLineBreakMark),
  };
  pugi::xml_node rec = list_.append_child(NewElementNameLocked().c_str());
  if (!rec) return false;
  for (size_t i = 0; i < std::size(kValueNames); ++i) {
    pugi::xml_node el = rec.append_child(kValueNames[i]);
    if (!el || !SetText(el, values[i])) {
      // A half-built record would reach the file with the next save.
      list_.remove_child(rec);
      return false;
    }
  }
  records_.push_back(rec);
  saved_ = false;
  return SaveLocked();
}

bool CRecordStore::DeleteRecord(const std::wstring& name, const std::wstring& time) {
  std::lock_guard<std::mutex> guard(lock_);
  if (!EnsureListLocked()) return false;
  const pugi::xml_node rec = FindLocked(ToXmlText(name), ToXmlText(time));
  if (!rec) return false;
  if (!list_.remove_child(rec)) return false;
  records_.erase(std::find(records_.begin(), records_.end(), rec));
  saved_ = false;
  return SaveLocked();
}

bool CRecordStore::MarkSeen(const std::wstring& name, const std::wstring& time) {
  std::lock_guard<std::mutex> guard(lock_);
  if (!EnsureListLocked()) return false;
  const pugi::xml_node rec = FindLocked(ToXmlText(name), ToXmlText(time));
  if (!rec) return false;
  const pugi::xml_node isNew = ChildOrNew(rec, "new");
  if (!isNew || !SetText(isNew, "false")) return false;
  saved_ = false;
  return SaveLocked();
}

bool CRecordStore::Save() {
  std::lock_guard<std::mutex> guard(lock_);
  if (!EnsureListLocked()) return false;
  return SaveLocked();
}

bool CRecordStore::IsSaved() const {
  std::lock_guard<std::mutex> guard(lock_);
  return saved_;
}

std::wstring CRecordStore::GetFilePath() const {
  std::lock_guard<std::mutex> guard(lock_);
  return WideFromPath(path_);
}

void CRecordStore::SetClock(Clock clock) {
  std::lock_guard<std::mutex> guard(lock_);
  clock_ = clock ? std::move(clock) : Clock(SystemSeconds);
}

void CRecordStore::SetBeforeReplaceHook(BeforeReplaceHook hook) {
  std::lock_guard<std::mutex> guard(lock_);
  beforeReplace_ = std::move(hook);
}

bool CRecordStore::KeepUnreadableCopyLocked() {
  std::error_code ec;
  if (!fs::exists(path_, ec) && !ec) {
    keepUnreadable_ = false;  // gone meanwhile: nothing left to keep
    return true;
  }
  const std::string stamp = FormatUtcStamp(clock_());
  const fs::path stem = path_.stem();
  const fs::path ext = path_.extension();
  for (unsigned n = 1; n < 1000; ++n) {
    fs::path name = stem;
    name += "-unreadable-" + stamp + (n > 1 ? "-" + std::to_string(n) : std::string());
    name += ext;
    const fs::path copy = path_.parent_path() / name;
    if (fs::exists(copy, ec) || ec) continue;
    if (!fs::copy_file(path_, copy, fs::copy_options::none, ec)) return false;
    keepUnreadable_ = false;
    return true;
  }
  return false;
}

bool CRecordStore::SaveLocked() {
  saved_ = false;
  if (path_.empty()) return false;
  if (keepUnreadable_ && !KeepUnreadableCopyLocked()) return false;

  // A read-only history is the user's decision; replacing it by rename would override it
  // wherever the folder stays writable.
  std::error_code ec;
  const fs::file_status st = fs::status(path_, ec);
  if (!ec && fs::exists(st) && (st.permissions() & fs::perms::owner_write) == fs::perms::none) return false;

  // Write everything beside the file first, then swap it in by rename (MoveFileExW with
  // replace on Windows): a crash or a full disk leaves the previous history whole.
  fs::path temp = path_;
  temp += ".tmp";
  DeclareUtf8(doc_);
  if (!WriteDocument(doc_, temp)) {
    fs::remove(temp, ec);
    return false;
  }
  if (beforeReplace_ && !beforeReplace_()) return false;
  fs::rename(temp, path_, ec);
  if (ec) {
    fs::remove(temp, ec);
    return false;
  }
  saved_ = true;
  return true;
}

}  // namespace tovik
