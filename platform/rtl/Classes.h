// Lists: TList of untyped pointers, the abstract TStrings and its concrete
// TStringList (strings with an associated TObject* each).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "rtl/Persistent.h"
#include "rtl/System.h"

namespace vcl {

class TStream;

enum TListNotification : uint8_t { lnAdded, lnExtracted, lnDeleted };

// A list of pointers. It owns nothing; descendants can react to insertions
// and removals through Notify.
class TList : public TObject {
 public:
  std::string ClassName() const override { return "TList"; }

  int32_t Add(void* Item);
  void Insert(int32_t Index, void* Item);
  void Delete(int32_t Index);
  // Removes the first occurrence of Item; answers its former index or -1.
  int32_t Remove(void* Item);
  // Removes Item without the lnDeleted notification; answers it or nullptr.
  void* Extract(void* Item);
  int32_t IndexOf(void* Item) const;
  void Clear();
  void Exchange(int32_t Index1, int32_t Index2);
  void Move(int32_t CurIndex, int32_t NewIndex);
  // Compare answers <0, 0 or >0; equal items keep their order.
  void Sort(const std::function<int(void*, void*)>& Compare);
  // Drops nullptr entries.
  void Pack();

  int32_t Count() const { return static_cast<int32_t>(FList.size()); }
  void* Items(int32_t Index) const;
  void SetItems(int32_t Index, void* Item);
  void* First() const { return Items(0); }
  void* Last() const { return Items(Count() - 1); }

 protected:
  virtual void Notify(void* Ptr, TListNotification Action);
  // Raises EListError "List index out of bounds (<Index>)".
  [[noreturn]] static void IndexError(int32_t Index);

 private:
  void CheckIndex(int32_t Index) const;
  std::vector<void*> FList;  // the entries in list order
};

enum TDuplicates : uint8_t { dupIgnore, dupAccept, dupError };

// Text form of a list: Text joins lines with "\r\n" after each line and
// splits on CR, LF or CR LF; CommaText/DelimitedText quote an item that holds
// a blank, control character, delimiter or quote, doubling inner quotes.
class TStrings : public TPersistent {
 public:
  std::string ClassName() const override { return "TStrings"; }

  virtual int32_t Add(const std::string& S);
  virtual int32_t AddObject(const std::string& S, TObject* AObject);
  virtual void Insert(int32_t Index, const std::string& S) = 0;
  void InsertObject(int32_t Index, const std::string& S, TObject* AObject);
  virtual void Delete(int32_t Index) = 0;
  virtual void Clear() = 0;
  virtual void Exchange(int32_t Index1, int32_t Index2);
  virtual void Move(int32_t CurIndex, int32_t NewIndex);
  void AddStrings(TStrings* Strings);
  void Assign(TPersistent* Source) override;
  bool Equals(TStrings* Strings);

  virtual int32_t IndexOf(const std::string& S);
  int32_t IndexOfName(const std::string& Name);
  int32_t IndexOfObject(TObject* AObject);

  int32_t Count() { return GetCount(); }
  std::string Strings(int32_t Index) { return Get(Index); }
  void SetStrings(int32_t Index, const std::string& S) { Put(Index, S); }
  TObject* Objects(int32_t Index) { return GetObject(Index); }
  void SetObjects(int32_t Index, TObject* AObject) { PutObject(Index, AObject); }

  std::string Text();
  virtual void SetText(const std::string& Value);
  std::string CommaText();
  void SetCommaText(const std::string& Value);
  std::string DelimitedText();
  void SetDelimitedText(const std::string& Value);
  char Delimiter() const { return FDelimiter; }
  void SetDelimiter(char Value) { FDelimiter = Value; }
  char QuoteChar() const { return FQuoteChar; }
  void SetQuoteChar(char Value) { FQuoteChar = Value; }
  // When set, only the delimiter separates items; otherwise blanks do too.
  bool StrictDelimiter() const { return FStrictDelimiter; }
  void SetStrictDelimiter(bool Value) { FStrictDelimiter = Value; }

  // Name=value lines.
  std::string Names(int32_t Index);
  std::string Values(const std::string& Name);
  // An empty value removes the line; a new name is appended.
  void SetValues(const std::string& Name, const std::string& Value);
  std::string ValueFromIndex(int32_t Index);
  char NameValueSeparator() const { return FNameValueSeparator; }
  void SetNameValueSeparator(char Value) { FNameValueSeparator = Value; }

  // Brackets a batch of changes: OnChanging fires at the outermost
  // BeginUpdate, OnChange at the matching EndUpdate, none in between.
  void BeginUpdate();
  void EndUpdate();
  int32_t UpdateCount() const { return FUpdateCount; }

  // SaveToStream writes Text; LoadFromStream replaces the list with the text
  // from the stream's position to its end.
  virtual void SaveToStream(TStream& Stream);
  virtual void LoadFromStream(TStream& Stream);
  void SaveToFile(const std::string& FileName);
  void LoadFromFile(const std::string& FileName);

 protected:
  virtual std::string Get(int32_t Index) = 0;
  virtual int32_t GetCount() = 0;
  virtual TObject* GetObject(int32_t Index);
  virtual void Put(int32_t Index, const std::string& S);
  virtual void PutObject(int32_t Index, TObject* AObject);
  // Called with true at the start and false at the end of an update bracket.
  virtual void SetUpdateState(bool Updating);
  // How this list compares strings (IndexOf, IndexOfName, sorting): the
  // Windows-1252 collation, ignoring case.
  virtual int CompareStrings(const std::string& S1, const std::string& S2);
  [[noreturn]] static void Error(const std::string& Msg, int32_t Data);

 private:
  int32_t FUpdateCount = 0;          // depth of BeginUpdate brackets
  char FDelimiter = ',';             // DelimitedText separator
  char FQuoteChar = '"';             // DelimitedText quote
  char FNameValueSeparator = '=';    // Names/Values separator
  bool FStrictDelimiter = false;     // blanks do not separate items
};

class TStringList : public TStrings {
 public:
  std::string ClassName() const override { return "TStringList"; }

  int32_t Add(const std::string& S) override;
  int32_t AddObject(const std::string& S, TObject* AObject) override;
  void Insert(int32_t Index, const std::string& S) override;
  void Delete(int32_t Index) override;
  void Clear() override;
  void Exchange(int32_t Index1, int32_t Index2) override;
  int32_t IndexOf(const std::string& S) override;
  // Binary search in a sorted list: true when S is present; Index is the
  // first match, or where S would be inserted.
  virtual bool Find(const std::string& S, int32_t& Index);
  virtual void Sort();
  // Compare answers <0, 0 or >0 for the items at the two indexes.
  void CustomSort(const std::function<int(TStringList* List, int32_t Index1, int32_t Index2)>& Compare);

  bool Sorted() const { return FSorted; }
  void SetSorted(bool Value);
  // Only consulted while Sorted; dupError raises EStringListError.
  TDuplicates Duplicates() const { return FDuplicates; }
  void SetDuplicates(TDuplicates Value) { FDuplicates = Value; }
  bool CaseSensitive() const { return FCaseSensitive; }
  void SetCaseSensitive(bool Value);

  TNotifyEvent OnChange;
  TNotifyEvent OnChanging;

 protected:
  std::string Get(int32_t Index) override;
  int32_t GetCount() override { return static_cast<int32_t>(FList.size()); }
  TObject* GetObject(int32_t Index) override;
  void Put(int32_t Index, const std::string& S) override;
  void PutObject(int32_t Index, TObject* AObject) override;
  void SetUpdateState(bool Updating) override;
  int CompareStrings(const std::string& S1, const std::string& S2) override;
  virtual void Changed();
  virtual void Changing();

 private:
  struct TStringItem {
    std::string FString;   // the line
    TObject* FObject;      // associated object, not owned
  };
  void CheckIndex(int32_t Index) const;
  void InsertItem(int32_t Index, const std::string& S, TObject* AObject);
  void SortItems();

  std::vector<TStringItem> FList;       // the entries in list order
  TDuplicates FDuplicates = dupIgnore;  // what Add does with a duplicate
  bool FSorted = false;                 // kept in CompareStrings order
  bool FCaseSensitive = false;          // CompareStrings honours case
};

}  // namespace vcl
