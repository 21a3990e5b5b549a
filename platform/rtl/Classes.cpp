#include "rtl/Classes.h"

#include <algorithm>
#include <numeric>

#include "rtl/StrUtils.h"
#include "rtl/Streams.h"

namespace vcl {

namespace {

std::string IndexMessage(int32_t Index) {
  return "List index out of bounds (" + std::to_string(Index) + ")";
}

std::string QuotedString(const std::string& S, char Quote) {
  std::string Result(1, Quote);
  for (char C : S) {
    Result += C;
    if (C == Quote) Result += Quote;
  }
  Result += Quote;
  return Result;
}

bool IsBlank(char C) { return C != '\0' && static_cast<unsigned char>(C) <= ' '; }

}  // namespace

// --- TList -----------------------------------------------------------------

void TList::IndexError(int32_t Index) { throw EListError(IndexMessage(Index)); }

void TList::CheckIndex(int32_t Index) const {
  if (Index < 0 || Index >= Count()) IndexError(Index);
}

int32_t TList::Add(void* Item) {
  int32_t Index = Count();
  FList.push_back(Item);
  if (Item != nullptr) Notify(Item, lnAdded);
  return Index;
}

void TList::Insert(int32_t Index, void* Item) {
  if (Index < 0 || Index > Count()) IndexError(Index);
  FList.insert(FList.begin() + Index, Item);
  if (Item != nullptr) Notify(Item, lnAdded);
}

void TList::Delete(int32_t Index) {
  CheckIndex(Index);
  void* Item = FList[static_cast<size_t>(Index)];
  FList.erase(FList.begin() + Index);
  if (Item != nullptr) Notify(Item, lnDeleted);
}

int32_t TList::Remove(void* Item) {
  int32_t Index = IndexOf(Item);
  if (Index >= 0) Delete(Index);
  return Index;
}

void* TList::Extract(void* Item) {
  int32_t Index = IndexOf(Item);
  if (Index < 0) return nullptr;
  FList.erase(FList.begin() + Index);
  Notify(Item, lnExtracted);
  return Item;
}

int32_t TList::IndexOf(void* Item) const {
  auto It = std::find(FList.begin(), FList.end(), Item);
  return It == FList.end() ? -1 : static_cast<int32_t>(It - FList.begin());
}

void TList::Clear() {
  // Notify may touch the list, so entries leave one at a time from the end.
  while (!FList.empty()) Delete(Count() - 1);
  FList.shrink_to_fit();
}

void TList::Exchange(int32_t Index1, int32_t Index2) {
  CheckIndex(Index1);
  CheckIndex(Index2);
  std::swap(FList[static_cast<size_t>(Index1)], FList[static_cast<size_t>(Index2)]);
}

void TList::Move(int32_t CurIndex, int32_t NewIndex) {
  if (CurIndex == NewIndex) return;
  CheckIndex(CurIndex);
  CheckIndex(NewIndex);
  void* Item = FList[static_cast<size_t>(CurIndex)];
  FList.erase(FList.begin() + CurIndex);
  FList.insert(FList.begin() + NewIndex, Item);
}

void TList::Sort(const std::function<int(void*, void*)>& Compare) {
  std::stable_sort(FList.begin(), FList.end(), [&](void* A, void* B) { return Compare(A, B) < 0; });
}

void TList::Pack() { std::erase(FList, nullptr); }

void* TList::Items(int32_t Index) const {
  CheckIndex(Index);
  return FList[static_cast<size_t>(Index)];
}

void TList::SetItems(int32_t Index, void* Item) {
  CheckIndex(Index);
  void* Old = FList[static_cast<size_t>(Index)];
  if (Old == Item) return;
  FList[static_cast<size_t>(Index)] = Item;
  if (Old != nullptr) Notify(Old, lnDeleted);
  if (Item != nullptr) Notify(Item, lnAdded);
}

void TList::Notify(void*, TListNotification) {}

// --- TStrings --------------------------------------------------------------

void TStrings::Error(const std::string& Msg, int32_t Data) {
  std::string Text = Msg;
  size_t At = Text.find("%d");
  if (At != std::string::npos) Text.replace(At, 2, std::to_string(Data));
  throw EStringListError(Text);
}

int32_t TStrings::Add(const std::string& S) {
  int32_t Index = GetCount();
  Insert(Index, S);
  return Index;
}

int32_t TStrings::AddObject(const std::string& S, TObject* AObject) {
  int32_t Index = Add(S);
  PutObject(Index, AObject);
  return Index;
}

void TStrings::InsertObject(int32_t Index, const std::string& S, TObject* AObject) {
  Insert(Index, S);
  PutObject(Index, AObject);
}

void TStrings::Exchange(int32_t Index1, int32_t Index2) {
  BeginUpdate();
  try {
    std::string S = Get(Index1);
    TObject* O = GetObject(Index1);
    Put(Index1, Get(Index2));
    PutObject(Index1, GetObject(Index2));
    Put(Index2, S);
    PutObject(Index2, O);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TStrings::Move(int32_t CurIndex, int32_t NewIndex) {
  if (CurIndex == NewIndex) return;
  BeginUpdate();
  try {
    std::string S = Get(CurIndex);
    TObject* O = GetObject(CurIndex);
    if (NewIndex < 0 || NewIndex >= GetCount()) Error("List index out of bounds (%d)", NewIndex);
    Delete(CurIndex);
    InsertObject(NewIndex, S, O);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TStrings::AddStrings(TStrings* Strings) {
  BeginUpdate();
  try {
    for (int32_t i = 0, N = Strings->GetCount(); i < N; ++i)
      AddObject(Strings->Get(i), Strings->GetObject(i));
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TStrings::Assign(TPersistent* Source) {
  auto* Strings = dynamic_cast<TStrings*>(Source);
  if (Strings == nullptr) {
    TPersistent::Assign(Source);
    return;
  }
  if (Strings == this) return;
  BeginUpdate();
  try {
    Clear();
    FDelimiter = Strings->FDelimiter;
    FQuoteChar = Strings->FQuoteChar;
    FNameValueSeparator = Strings->FNameValueSeparator;
    FStrictDelimiter = Strings->FStrictDelimiter;
    AddStrings(Strings);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

bool TStrings::Equals(TStrings* Strings) {
  int32_t N = GetCount();
  if (N != Strings->GetCount()) return false;
  for (int32_t i = 0; i < N; ++i)
    if (Get(i) != Strings->Get(i)) return false;
  return true;
}

int32_t TStrings::IndexOf(const std::string& S) {
  for (int32_t i = 0, N = GetCount(); i < N; ++i)
    if (CompareStrings(Get(i), S) == 0) return i;
  return -1;
}

int32_t TStrings::IndexOfName(const std::string& Name) {
  for (int32_t i = 0, N = GetCount(); i < N; ++i) {
    std::string S = Get(i);
    size_t At = S.find(FNameValueSeparator);
    if (At != std::string::npos && CompareStrings(S.substr(0, At), Name) == 0) return i;
  }
  return -1;
}

int32_t TStrings::IndexOfObject(TObject* AObject) {
  for (int32_t i = 0, N = GetCount(); i < N; ++i)
    if (GetObject(i) == AObject) return i;
  return -1;
}

std::string TStrings::Text() {
  std::string Result;
  for (int32_t i = 0, N = GetCount(); i < N; ++i) {
    Result += Get(i);
    Result += "\r\n";
  }
  return Result;
}

void TStrings::SetText(const std::string& Value) {
  BeginUpdate();
  try {
    Clear();
    size_t P = 0;
    while (P < Value.size()) {
      size_t Start = P;
      while (P < Value.size() && Value[P] != '\r' && Value[P] != '\n') ++P;
      Add(Value.substr(Start, P - Start));
      if (P < Value.size() && Value[P] == '\r') ++P;
      if (P < Value.size() && Value[P] == '\n') ++P;
    }
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

std::string TStrings::CommaText() {
  char OldDelimiter = FDelimiter, OldQuote = FQuoteChar;
  FDelimiter = ',';
  FQuoteChar = '"';
  std::string Result = DelimitedText();
  FDelimiter = OldDelimiter;
  FQuoteChar = OldQuote;
  return Result;
}

void TStrings::SetCommaText(const std::string& Value) {
  char OldDelimiter = FDelimiter, OldQuote = FQuoteChar;
  FDelimiter = ',';
  FQuoteChar = '"';
  try {
    SetDelimitedText(Value);
  } catch (...) {
    FDelimiter = OldDelimiter;
    FQuoteChar = OldQuote;
    throw;
  }
  FDelimiter = OldDelimiter;
  FQuoteChar = OldQuote;
}

std::string TStrings::DelimitedText() {
  int32_t N = GetCount();
  // A single empty item must stay distinguishable from an empty list.
  if (N == 1 && Get(0).empty()) return std::string(2, FQuoteChar);
  std::string Result;
  for (int32_t i = 0; i < N; ++i) {
    std::string S = Get(i);
    bool NeedsQuotes = std::any_of(S.begin(), S.end(), [&](char C) {
      return static_cast<unsigned char>(C) <= ' ' || C == FQuoteChar || C == FDelimiter;
    });
    if (i > 0) Result += FDelimiter;
    Result += NeedsQuotes ? QuotedString(S, FQuoteChar) : S;
  }
  return Result;
}

void TStrings::SetDelimitedText(const std::string& Value) {
  BeginUpdate();
  try {
    Clear();
    size_t P = 0, End = Value.size();
    auto SkipBlanks = [&] {
      while (P < End && IsBlank(Value[P])) ++P;
    };
    SkipBlanks();
    while (P < End) {
      std::string S;
      if (Value[P] == FQuoteChar) {
        // A quoted item: doubled quotes stand for one; an unclosed quote
        // takes the rest of the text.
        ++P;
        while (P < End) {
          if (Value[P] == FQuoteChar) {
            if (P + 1 < End && Value[P + 1] == FQuoteChar) {
              S += FQuoteChar;
              P += 2;
              continue;
            }
            ++P;
            break;
          }
          S += Value[P++];
        }
      } else {
        size_t Start = P;
        while (P < End && Value[P] != FDelimiter &&
               (FStrictDelimiter || !IsBlank(Value[P])))
          ++P;
        S = Value.substr(Start, P - Start);
      }
      Add(S);
      SkipBlanks();
      if (P < End && Value[P] == FDelimiter) {
        ++P;
        if (P == End) Add("");
        SkipBlanks();
      }
    }
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

std::string TStrings::Names(int32_t Index) {
  std::string S = Get(Index);
  size_t At = S.find(FNameValueSeparator);
  return At == std::string::npos ? std::string() : S.substr(0, At);
}

std::string TStrings::Values(const std::string& Name) {
  int32_t Index = IndexOfName(Name);
  return Index < 0 ? std::string() : ValueFromIndex(Index);
}

void TStrings::SetValues(const std::string& Name, const std::string& Value) {
  int32_t Index = IndexOfName(Name);
  if (!Value.empty()) {
    if (Index < 0) Index = Add("");
    Put(Index, Name + FNameValueSeparator + Value);
  } else if (Index >= 0) {
    Delete(Index);
  }
}

std::string TStrings::ValueFromIndex(int32_t Index) {
  std::string S = Get(Index);
  size_t At = S.find(FNameValueSeparator);
  return At == std::string::npos ? std::string() : S.substr(At + 1);
}

void TStrings::BeginUpdate() {
  if (FUpdateCount == 0) SetUpdateState(true);
  ++FUpdateCount;
}

void TStrings::EndUpdate() {
  if (FUpdateCount == 0) return;
  if (--FUpdateCount == 0) SetUpdateState(false);
}

void TStrings::SaveToStream(TStream& Stream) {
  std::string S = Text();
  Stream.WriteBuffer(S.data(), static_cast<int64_t>(S.size()));
}

void TStrings::LoadFromStream(TStream& Stream) {
  int64_t Available = Stream.Size() - Stream.Position();
  std::string S(static_cast<size_t>(std::max<int64_t>(Available, 0)), '\0');
  Stream.ReadBuffer(S.data(), static_cast<int64_t>(S.size()));
  SetText(S);
}

void TStrings::SaveToFile(const std::string& FileName) {
  TFileStream Stream(FileName, fmCreate);
  SaveToStream(Stream);
}

void TStrings::LoadFromFile(const std::string& FileName) {
  TFileStream Stream(FileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(Stream);
}

TObject* TStrings::GetObject(int32_t) { return nullptr; }

void TStrings::Put(int32_t Index, const std::string& S) {
  TObject* O = GetObject(Index);
  Delete(Index);
  InsertObject(Index, S, O);
}

void TStrings::PutObject(int32_t, TObject*) {}

void TStrings::SetUpdateState(bool) {}

int TStrings::CompareStrings(const std::string& S1, const std::string& S2) {
  return AnsiCompareText(S1, S2);
}

// --- TStringList -----------------------------------------------------------

void TStringList::CheckIndex(int32_t Index) const {
  if (Index < 0 || Index >= static_cast<int32_t>(FList.size()))
    Error("List index out of bounds (%d)", Index);
}

int32_t TStringList::Add(const std::string& S) { return AddObject(S, nullptr); }

int32_t TStringList::AddObject(const std::string& S, TObject* AObject) {
  int32_t Index = 0;
  if (!FSorted) {
    Index = GetCount();
  } else if (Find(S, Index)) {
    switch (FDuplicates) {
      case dupIgnore: return Index;
      case dupError: Error("String list does not allow duplicates", 0);
      case dupAccept: break;
    }
  }
  InsertItem(Index, S, AObject);
  return Index;
}

void TStringList::Insert(int32_t Index, const std::string& S) {
  if (FSorted) Error("Operation not allowed on sorted list", 0);
  if (Index < 0 || Index > GetCount()) Error("List index out of bounds (%d)", Index);
  InsertItem(Index, S, nullptr);
}

void TStringList::InsertItem(int32_t Index, const std::string& S, TObject* AObject) {
  Changing();
  FList.insert(FList.begin() + Index, TStringItem{S, AObject});
  Changed();
}

void TStringList::Delete(int32_t Index) {
  CheckIndex(Index);
  Changing();
  FList.erase(FList.begin() + Index);
  Changed();
}

void TStringList::Clear() {
  if (FList.empty()) return;
  Changing();
  FList.clear();
  FList.shrink_to_fit();
  Changed();
}

void TStringList::Exchange(int32_t Index1, int32_t Index2) {
  CheckIndex(Index1);
  CheckIndex(Index2);
  Changing();
  std::swap(FList[static_cast<size_t>(Index1)], FList[static_cast<size_t>(Index2)]);
  Changed();
}

int32_t TStringList::IndexOf(const std::string& S) {
  if (!FSorted) return TStrings::IndexOf(S);
  int32_t Index;
  return Find(S, Index) ? Index : -1;
}

bool TStringList::Find(const std::string& S, int32_t& Index) {
  bool Result = false;
  int32_t L = 0, H = GetCount() - 1;
  while (L <= H) {
    int32_t I = L + (H - L) / 2;
    int C = CompareStrings(FList[static_cast<size_t>(I)].FString, S);
    if (C < 0) {
      L = I + 1;
    } else {
      H = I - 1;
      if (C == 0) Result = true;
    }
  }
  Index = L;
  return Result;
}

void TStringList::SortItems() {
  std::stable_sort(FList.begin(), FList.end(), [this](const TStringItem& A, const TStringItem& B) {
    return CompareStrings(A.FString, B.FString) < 0;
  });
}

void TStringList::Sort() {
  if (FList.size() < 2) return;
  Changing();
  SortItems();
  Changed();
}

void TStringList::CustomSort(
    const std::function<int(TStringList* List, int32_t Index1, int32_t Index2)>& Compare) {
  if (FList.size() < 2) return;
  Changing();
  // The callback speaks in indexes, so sort a permutation against the
  // untouched list and apply it afterwards.
  std::vector<int32_t> Order(FList.size());
  std::iota(Order.begin(), Order.end(), 0);
  try {
    std::stable_sort(Order.begin(), Order.end(),
                     [&](int32_t A, int32_t B) { return Compare(this, A, B) < 0; });
  } catch (...) {
    Changed();
    throw;
  }
  std::vector<TStringItem> Sorted;
  Sorted.reserve(FList.size());
  for (int32_t i : Order) Sorted.push_back(std::move(FList[static_cast<size_t>(i)]));
  FList.swap(Sorted);
  Changed();
}

void TStringList::SetSorted(bool Value) {
  if (FSorted == Value) return;
  if (Value) Sort();
  FSorted = Value;
}

void TStringList::SetCaseSensitive(bool Value) {
  if (FCaseSensitive == Value) return;
  FCaseSensitive = Value;
  if (FSorted) Sort();
}

std::string TStringList::Get(int32_t Index) {
  CheckIndex(Index);
  return FList[static_cast<size_t>(Index)].FString;
}

TObject* TStringList::GetObject(int32_t Index) {
  CheckIndex(Index);
  return FList[static_cast<size_t>(Index)].FObject;
}

void TStringList::Put(int32_t Index, const std::string& S) {
  if (FSorted) Error("Operation not allowed on sorted list", 0);
  CheckIndex(Index);
  Changing();
  FList[static_cast<size_t>(Index)].FString = S;
  Changed();
}

void TStringList::PutObject(int32_t Index, TObject* AObject) {
  CheckIndex(Index);
  Changing();
  FList[static_cast<size_t>(Index)].FObject = AObject;
  Changed();
}

void TStringList::SetUpdateState(bool Updating) {
  if (Updating)
    Changing();
  else
    Changed();
}

int TStringList::CompareStrings(const std::string& S1, const std::string& S2) {
  return FCaseSensitive ? AnsiCompareStr(S1, S2) : AnsiCompareText(S1, S2);
}

void TStringList::Changed() {
  if (UpdateCount() == 0 && OnChange) OnChange(this);
}

void TStringList::Changing() {
  if (UpdateCount() == 0 && OnChanging) OnChanging(this);
}

}  // namespace vcl
