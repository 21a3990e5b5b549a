#include "core/VdbBase.h"

#include <algorithm>
#include <cstring>

#include "rtl/Application.h"
#include "rtl/ClassRegistry.h"
#include "rtl/FileUtils.h"
#include "rtl/StrUtils.h"

namespace vdb {

// ---------------------------------------------------------------------------
// TVantorFieldDef

TVantorFieldDef::TVantorFieldDef(TVantorFieldDefs* AOwner, const std::string& AName) : Name(AName) {
  if (AOwner != nullptr) {
    AOwner->FItems.emplace_back(this);
    FOwner = AOwner;
  }
}

TVantorFieldDef::~TVantorFieldDef() {
  if (FOwner != nullptr) FOwner->Remove(this);
}

// ---------------------------------------------------------------------------
// TVantorFieldDefs

TVantorFieldDefs::~TVantorFieldDefs() { TVantorFieldDefs::Clear(); }

void TVantorFieldDefs::Remove(TVantorFieldDef* Def) {
  auto It = std::find_if(FItems.begin(), FItems.end(),
                         [Def](const std::unique_ptr<TVantorFieldDef>& Item) { return Item.get() == Def; });
  if (It == FItems.end()) return;
  // The descriptor is being destroyed by its own destructor: give up
  // ownership instead of freeing it a second time.
  (void)It->release();
  FItems.erase(It);
}

TVantorFieldDef* TVantorFieldDefs::AddFieldDef(const std::string& Name) {
  const int32_t NewOffset = Size();
  auto* Def = new TVantorFieldDef(this, Name);
  Def->FieldNo = Count() - 1;
  Def->Offset = NewOffset;
  return Def;
}

void TVantorFieldDefs::Clear() {
  while (!FItems.empty()) {
    std::unique_ptr<TVantorFieldDef> Last = std::move(FItems.back());
    FItems.pop_back();
    Last->FOwner = nullptr;
  }
}

int32_t TVantorFieldDefs::Size() const {
  int32_t Result = 0;
  for (const auto& Def : FItems) Result += Def->Size;
  return Result;
}

TVantorFieldDef* TVantorFieldDefs::Items(int32_t Index) const {
  if (Index < 0 || Index >= Count()) return nullptr;
  return FItems[static_cast<size_t>(Index)].get();
}

int32_t TVantorFieldDefs::IndexOf(const std::string& Name) const {
  for (size_t I = 0; I < FItems.size(); ++I) {
    if (vcl::AnsiSameText(FItems[I]->Name, Name)) return static_cast<int32_t>(I);
  }
  return -1;
}

TVantorFieldDef* TVantorFieldDefs::FieldByName(const std::string& Name) const { return Items(IndexOf(Name)); }

bool TVantorFieldDefs::AnyBlob() const {
  return std::any_of(FItems.begin(), FItems.end(), [](const std::unique_ptr<TVantorFieldDef>& Def) {
    return Def->FieldType == vtMemo || Def->FieldType == vtBlob;
  });
}

// ---------------------------------------------------------------------------
// TVantorVariableDefs

TVantorVariableDefs::~TVantorVariableDefs() { TVantorVariableDefs::Clear(); }

void TVantorVariableDefs::Clear() {
  TVantorFieldDefs::Clear();
  FBuffer.reset();
  FBufSize = 0;
  FBound = false;
}

void TVantorVariableDefs::ClearBuffer() {
  if (FBuffer) std::memset(FBuffer.get(), 0, static_cast<size_t>(FBufSize));
}

void TVantorVariableDefs::SetBufSize(int32_t Size) {
  FBuffer.reset();
  FBufSize = 0;
  if (Size < 0) return;
  FBuffer = std::make_unique<uint8_t[]>(static_cast<size_t>(Size));
  FBufSize = Size;
}

// ---------------------------------------------------------------------------
// Module-level items

void VdbDummyProc() { throw EVantorException(VDB_ERR_LIB_WRONG, 0, 0); }

int32_t VdbDummyProcNoExcept() noexcept { return 0; }

void VdbApplicationHandleException(vcl::TObject* Sender) {
  if (vcl::Application != nullptr) vcl::Application->HandleException(Sender);
}

const vcl::Variant VdbEmptyParam = vcl::Null();

// ---------------------------------------------------------------------------
// TVantorSession

namespace {

void Fire(const vcl::TNotifyEvent& Event, vcl::TObject* Sender) {
  if (Event) Event(Sender);
}

bool EndsWithPathDelimiter(const std::string& Dir) {
  return !Dir.empty() && (Dir.back() == '\\' || Dir.back() == '/');
}

// The properties a session keeps in form files. The class is abstract, so
// it has no factory; concrete sessions register below it. Connected comes
// last and is only recorded while reading; Loaded acts on it.
void RegisterSessionClass() {
  using S = TVantorSession;
  vcl::RegisterClass(
      "TVantorSession", {},
      {
          vcl::BooleanProperty("AutoCommit", &S::AutoCommit, &S::SetAutoCommit, true),
          vcl::BooleanProperty("CommitOnDisconnect", &S::CommitOnDisconnect, &S::SetCommitOnDisconnect, true),
          vcl::BooleanProperty("ConnectOnLoading", &S::ConnectOnLoading, &S::SetConnectOnLoading, true),
          vcl::BooleanProperty("KeepConnection", &S::KeepConnection, &S::SetKeepConnection, true),
          vcl::StringProperty("LibraryFile", &S::LibraryFile, &S::SetLibraryFile, std::nullopt),
          vcl::StringProperty("LibraryPath", &S::LibraryPath, &S::SetLibraryPath),
          vcl::StringProperty("LoginDatabase", &S::LoginDatabase, &S::SetLoginDatabase),
          vcl::StringProperty("LoginUser", &S::LoginUser, &S::SetLoginUser),
          vcl::StringProperty("LoginPassword", &S::LoginPassword, &S::SetLoginPassword),
          vcl::BooleanProperty("OEMConvert", &S::OEMConvert, &S::SetOEMConvert, false),
          vcl::BooleanProperty("WantExceptions", &S::WantExceptions, &S::SetWantExceptions, false),
          vcl::BooleanProperty("Connected", &S::Connected, &S::SetConnected, false),
      });
}

// Registered at start-up as well, for forms read before anyone asked.
const bool BaseClassesRegistered = (VdbRegisterBaseClasses(), true);

}  // namespace

void VdbRegisterBaseClasses() {
  static const bool Registered = (RegisterSessionClass(), VdbRegisterStatementClass(), true);
  (void)Registered;
}

TVantorSession::TVantorSession(vcl::TComponent* AOwner) : vcl::TComponent(AOwner) {}

TVantorSession::~TVantorSession() {
  Destroying();
  // The concrete session has run Shutdown() from its own destructor; when it
  // did not, the connection can no longer be closed through its overrides,
  // so it is only forgotten here. The module itself is still released.
  if (!FShutDown && FLibraryHandle != nullptr) {
    InternalInvalidateQueries();
    vcl::FreeLibrary(FLibraryHandle);
    FLibraryHandle = nullptr;
  }
  // Close already unprepared the statements; now they are only unlinked.
  while (!FQueries.empty()) RemoveQuery(FQueries.back());
}

void TVantorSession::Shutdown() {
  if (FShutDown) return;
  FShutDown = true;
  Destroying();
  Close();
  InternalFreeLibrary();
}

void TVantorSession::Loaded() {
  vcl::TComponent::Loaded();
  try {
    const bool Designing = ComponentState().Contains(vcl::csDesigning);
    if (!Designing && !FConnectOnLoading) {
      SetConnected(false);
    } else if (FStreamedConnected) {
      Open();
    }
  } catch (...) {
    if (!ComponentState().Contains(vcl::csDesigning)) throw;
    VdbApplicationHandleException(this);
  }
}

void TVantorSession::Open() {
  if (FHandle != nullptr) return;
  Fire(FBeforeConnect, this);
  InternalNeedLibrary();
  InternalSetHandle(nullptr);
  void* NewHandle = nullptr;
  InternalOpenDatabase(NewHandle);
  FHandle = NewHandle;
  FInTransaction = false;
  Fire(FAfterConnect, this);
}

void TVantorSession::Close() {
  if (FHandle == nullptr) return;
  const bool Destroying = ComponentState().Contains(vcl::csDestroying);
  InternalCloseQueries();
  if (!Destroying) Fire(FBeforeDisconnect, this);
  if (!FHandleShared) {
    InternalCloseDatabase();
  } else {
    InternalSetHandle(nullptr);
    FHandleShared = false;
  }
  FInTransaction = false;
  FHandle = nullptr;
  FOpenCount = 0;
  if (!Destroying) Fire(FAfterDisconnect, this);
}

void TVantorSession::SetConnected(bool Value) {
  if (ComponentState().Contains(vcl::csReading)) {
    FStreamedConnected = Value;
  } else if (Value) {
    Open();
  } else {
    Close();
  }
}

void TVantorSession::OpenSession(vcl::TComponent* Component) {
  Open();
  ++FOpenCount;
  if (Component != nullptr) {
    FDataSets.Add(Component);
    FreeNotification(Component);
  }
}

void TVantorSession::CloseSession(vcl::TComponent* Component) {
  if (Component != nullptr) {
    FDataSets.Remove(Component);
    if (FDataSets.IndexOf(Component) < 0) RemoveFreeNotification(Component);
  }
  if (FOpenCount > 0) --FOpenCount;
  if (FOpenCount == 0 && !FKeepConnection) Close();
}

void TVantorSession::Notification(vcl::TComponent* AComponent, vcl::TOperation Operation) {
  vcl::TComponent::Notification(AComponent, Operation);
  if (Operation == vcl::opRemove) {
    while (FDataSets.Remove(AComponent) >= 0) {
    }
  }
}

void TVantorSession::SetKeepConnection(bool Value) {
  if (Value == FKeepConnection) return;
  FKeepConnection = Value;
  if (!Value && FOpenCount == 0) Close();
}

void TVantorSession::SetHandle(void* Value) {
  if (Connected()) Close();
  if (Value == nullptr) {
    InternalSetHandle(nullptr);
    return;
  }
  InternalNeedLibrary();
  Fire(FBeforeConnect, this);
  InternalSetHandle(Value);
  FHandle = Value;
  FHandleShared = true;
  Fire(FAfterConnect, this);
}

vcl::TComponent* TVantorSession::GetDataSet(int32_t Index) const {
  return static_cast<vcl::TComponent*>(FDataSets.Items(Index));
}

void TVantorSession::SetLibraryFile(const std::string& Value) {
  if (Value == FLibraryFile) return;
  if (Connected()) RaiseLastError(VDB_ERR_SESS_CONNECTED, 0);
  InternalFreeLibrary();
  FLibraryFile = Value;
}

void TVantorSession::SetLibraryPath(const std::string& Value) {
  if (Value == FLibraryPath) return;
  if (Connected()) RaiseLastError(VDB_ERR_SESS_CONNECTED, 0);
  InternalFreeLibrary();
  FLibraryPath = Value;
}

void TVantorSession::InternalNeedLibrary() {
  if (FLibraryHandle != nullptr) return;
  InternalLoadLibrary();
  InternalLoadLibraryProcs();
  InternalInitLibrary();
}

void TVantorSession::InternalLoadLibrary() {
  std::string Dir = vcl::Trim(FLibraryPath);
  if (Dir.empty()) {
    const std::string Found = vcl::SearchPath(FLibraryFile);
    if (!Found.empty()) Dir = vcl::ExtractFilePath(Found);
  }
  if (!Dir.empty() && !EndsWithPathDelimiter(Dir)) Dir = vcl::IncludeTrailingPathDelimiter(Dir);

  const std::string SavedDir = vcl::GetCurrentDir();
  if (!Dir.empty() && !vcl::SetCurrentDir(Dir)) {
    const uint32_t Code = vcl::GetLastError();
    RaiseLastError(std::string(VDB_ERR_LIB_PATH_NOT_FOUND) + " (" + Dir + "," + vcl::SysErrorMessage(Code) + ")",
                   0);
  }
  // Back to the caller's directory whatever the loading does.
  struct TRestoreDir {
    const std::string& Dir;
    ~TRestoreDir() {
      if (!Dir.empty()) vcl::SetCurrentDir(Dir);
    }
  } Restore{SavedDir};

  vcl::HMODULE Module = vcl::LoadLibrary(FLibraryFile);
  if (Module == nullptr) {
    const uint32_t Code = vcl::GetLastError();
    RaiseLastError(
        std::string(VDB_ERR_LIB_LOAD_FAILED) + " (" + FLibraryFile + "," + vcl::SysErrorMessage(Code) + ")", 0);
  }
  FLibraryHandle = Module;
  FLibraryDirectory = Dir;
}

void TVantorSession::InternalFreeLibrary() {
  if (FLibraryHandle == nullptr) return;
  InternalInvalidateQueries();
  InternalFiniLibrary();
  vcl::FreeLibrary(FLibraryHandle);
  FLibraryHandle = nullptr;
  FLibraryDirectory.clear();
}

void TVantorSession::AddQuery(TVantorSQL* SQL) {
  if (SQL == nullptr) return;
  FQueries.push_back(SQL);
  SQL->FSession = this;
}

void TVantorSession::RemoveQuery(TVantorSQL* SQL) {
  if (SQL == nullptr) return;
  if (!ComponentState().Contains(vcl::csDestroying)) {
    SQL->UnprepareOpen();
    SQL->UnprepareExecute();
    SQL->InternalInvalidateLibrary();
  }
  if (SQL->FSession == this) SQL->FSession = nullptr;
  auto It = std::find(FQueries.begin(), FQueries.end(), SQL);
  if (It != FQueries.end()) FQueries.erase(It);
}

TVantorSQL* TVantorSession::GetQuery(int32_t Index) const {
  if (Index < 0 || Index >= QueryCount()) return nullptr;
  return FQueries[static_cast<size_t>(Index)];
}

void TVantorSession::InternalCloseQueries() {
  for (size_t I = 0; I < FQueries.size(); ++I) {
    FQueries[I]->UnprepareOpen();
    FQueries[I]->UnprepareExecute();
  }
}

void TVantorSession::InternalInvalidateQueries() {
  for (TVantorSQL* SQL : FQueries) SQL->InternalInvalidateLibrary();
}

void TVantorSession::CheckPushError() {
  Check(false);
  FPushedError = FLastError;
  FPushedErrorCode = FLastErrorCode;
}

void TVantorSession::StartTransaction() {
  if (FInTransaction) RaiseLastError(VDB_ERR_SESS_TRANS_ACTIVE, 0);
  InternalCommit(FWantExceptions);
  FInTransaction = true;
}

void TVantorSession::Commit() {
  InternalCommit(FWantExceptions);
  FInTransaction = false;
}

void TVantorSession::Rollback() {
  InternalRollback();
  FInTransaction = false;
}

void TVantorSession::TranslateChar(const char* Source, char* Dest, int32_t Length, bool ToOem) const {
  if (!FOEMConvert || Source == nullptr || Dest == nullptr || Length <= 0) return;
  if (ToOem) {
    vcl::CharToOemBuff(Source, Dest, static_cast<size_t>(Length));
  } else {
    vcl::OemToCharBuff(Source, Dest, static_cast<size_t>(Length));
  }
}

bool TVantorSession::Execute(const std::string& SQL) {
  (void)SQL;
  return false;
}

bool TVantorSession::Ping(const std::string& ConnectString) {
  (void)ConnectString;
  return false;
}

}  // namespace vdb
