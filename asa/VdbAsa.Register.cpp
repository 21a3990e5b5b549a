// The published properties of TAsaSession and TAsaSQL for form files.
#include "asa/VdbAsa.h"
#include "rtl/ClassRegistry.h"

namespace vdb {

namespace {

void RegisterAsaSession() {
  using S = TAsaSession;
  vcl::RegisterClass(
      "TAsaSession", [](vcl::TComponent* Owner) -> vcl::TComponent* { return new TAsaSession(Owner); },
      {
          // The frame's property again, with this session's default file.
          vcl::StringProperty("LibraryFile", &S::LibraryFile, &S::SetLibraryFile, std::string("dblib7.dll")),
          vcl::StringProperty("ClientParams", &S::ClientParams, &S::SetClientParams),
          vcl::StringProperty("LoginEngineName", &S::LoginEngineName, &S::SetLoginEngineName),
          vcl::StringProperty("ServerParams", &S::ServerParams, &S::SetServerParams),
          vcl::EnumProperty("ServerType", {"stClient", "stServer", "stWorkgroup"}, &S::ServerType,
                            &S::SetServerType, std::optional<TAsaServerType>(stClient)),
          vcl::EnumProperty("TransIsolation",
                            {"atUnchanged", "atReadUncommitted", "atReadCommitted", "atReapeatableRead",
                             "atSerializable"},
                            &S::TransIsolation, &S::SetTransIsolation, std::optional<TAsaTransIsolation>(atUnchanged)),
          vcl::BooleanProperty("TrimBlanks", &S::TrimBlanks, &S::SetTrimBlanks, false),
          vcl::BooleanProperty("WantRowCounts", &S::WantRowCounts, &S::SetWantRowCounts, true),
      },
      "TVantorSession");
}

void RegisterAsaSQL() {
  using Q = TAsaSQL;
  vcl::RegisterClass(
      "TAsaSQL", [](vcl::TComponent* Owner) -> vcl::TComponent* { return new TAsaSQL(Owner); },
      {
          vcl::EnumProperty("CursorType",
                            {"actDefault", "actDynamicScroll", "actFixedScroll", "actInsensitive", "actNoScroll",
                             "actUnique"},
                            &Q::CursorType, &Q::SetCursorType, std::optional<TAsaCursorType>(actDefault)),
          vcl::EnumProperty("TransIsolation",
                            {"atUnchanged", "atReadUncommitted", "atReadCommitted", "atReapeatableRead",
                             "atSerializable"},
                            &Q::TransIsolation, &Q::SetTransIsolation, std::optional<TAsaTransIsolation>(atUnchanged)),
      },
      "TVantorSQL");
}

// Registered at start-up, for forms read before anyone asked.
const bool AsaClassesRegistered = (VdbAsaRegisterClasses(), true);

}  // namespace

void VdbAsaRegisterClasses() {
  static const bool Registered = (VdbRegisterBaseClasses(), RegisterAsaSession(), RegisterAsaSQL(), true);
  (void)Registered;
}

}  // namespace vdb
