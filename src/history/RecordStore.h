#pragma once
// The history of finished recordings, kept in "record.xml" in the data folder. The store
// holds the whole file as a DOM and writes it back whole after every change; it is the
// only code that reads or writes that file.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <pugixml.hpp>

namespace tovik {

// One finished recording, as the recording controller fills it and the history window
// shows it.
struct CRecordItem {
  std::int32_t type = 3;      // 1 incoming, 2 outgoing; anything else leaves it open
  bool isNew = true;          // until it has been played to its end
  std::int32_t duration = 0;  // whole seconds, paused time included
  std::wstring name;          // partners' Skype names separated by ","
  std::wstring time;          // start, decimal seconds since 1970 UTC
  std::wstring file;          // full path of the recording
  std::wstring note;          // free text, may hold line breaks
};

class CRecordStore {
 public:
  // Seconds since 1970-01-01 UTC; names new record elements and dated copies.
  using Clock = std::function<std::int64_t()>;
  // Called after the temporary file is complete and before it replaces "record.xml".
  // Returning false stops the save right there, as a crash at that moment would.
  using BeforeReplaceHook = std::function<bool()>;

  static constexpr const wchar_t* kFileName = L"record.xml";

  CRecordStore();
  explicit CRecordStore(Clock clock);
  CRecordStore(const CRecordStore&) = delete;
  CRecordStore& operator=(const CRecordStore&) = delete;

  // The program's single store, created on the first call; the main window deletes it.
  static CRecordStore& Instance();
  static void DeleteInstance();

  // `path` names the data folder (when it ends in a separator or is an existing folder,
  // "record.xml" is taken inside it) or the history file itself. Reads the file when it
  // exists; an unreadable file leaves an empty history and is kept as a dated copy
  // beside it when the first save replaces it. An empty path leaves the store without a
  // file: every change then reports a failed save.
  void Open(const std::wstring& path);

  int GetCount() const;
  // Fills `record` from the record at `index` (0-based, file order). False when out of
  // range; the fields already read stay in `record`.
  bool GetRecord(int index, CRecordItem& record);
  // The first record in file order whose name and time equal these texts exactly.
  bool FindRecord(const std::wstring& name, const std::wstring& time, pugi::xml_node* element = nullptr);

  // Each returns false when nothing was changed (a record with the same name and time
  // exists already / none was found, or the DOM failed) and also when the change was made
  // in memory but could not be saved; IsSaved() tells the two apart.
  bool AddRecord(const CRecordItem& record);
  bool DeleteRecord(const std::wstring& name, const std::wstring& time);
  bool MarkSeen(const std::wstring& name, const std::wstring& time);

  // Writes the whole document again; true when the file now holds every change.
  bool Save();
  // False while a change exists only in memory because its save failed.
  bool IsSaved() const;

  std::wstring GetFilePath() const;

  // Test seams.
  void SetClock(Clock clock);
  void SetBeforeReplaceHook(BeforeReplaceHook hook);

 private:
  bool EnsureListLocked();
  bool SaveLocked();
  bool KeepUnreadableCopyLocked();
  pugi::xml_node FindLocked(const std::string& name, const std::string& time);
  std::string NewElementNameLocked() const;

  mutable std::mutex lock_;
  pugi::xml_document doc_;
  pugi::xml_node list_;
  std::vector<pugi::xml_node> records_;  // element children of "list", file order
  std::filesystem::path path_;
  bool keepUnreadable_ = false;  // the file on disk could not be read at Open
  bool saved_ = true;
  Clock clock_;
  BeforeReplaceHook beforeReplace_;
};

}  // namespace tovik
