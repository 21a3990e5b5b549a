#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "core/VdbBase.h"

namespace {

using vdb::TVantorFieldDef;
using vdb::TVantorFieldDefs;
using vdb::TVantorVariableDefs;

TEST(FieldDefsTest, EmptyList) {
  TVantorFieldDefs Defs;
  EXPECT_EQ(Defs.Size(), 0);
  EXPECT_EQ(Defs.Count(), 0);
  EXPECT_FALSE(Defs.AnyBlob());
  EXPECT_EQ(Defs.Items(0), nullptr);
  EXPECT_EQ(Defs.IndexOf("X"), -1);
  EXPECT_EQ(Defs.FieldByName("X"), nullptr);
}

TEST(FieldDefsTest, OffsetsFollowTheSizesBeforeTheNewDescriptor) {
  TVantorFieldDefs Defs;
  TVantorFieldDef* A = Defs.AddFieldDef("A");
  EXPECT_EQ(A->FieldNo, 0);
  EXPECT_EQ(A->Offset, 0);
  EXPECT_EQ(A->Owner(), &Defs);
  EXPECT_EQ(A->FieldType, vdb::vtUnknown);
  EXPECT_EQ(A->KeyIndicator, vdb::kiRegularField);
  EXPECT_FALSE(A->Nulls);
  A->Size = 4;
  TVantorFieldDef* B = Defs.AddFieldDef("B");
  B->Size = 8;
  TVantorFieldDef* C = Defs.AddFieldDef("C");
  C->Size = 100;
  EXPECT_EQ(B->FieldNo, 1);
  EXPECT_EQ(B->Offset, 4);
  EXPECT_EQ(C->FieldNo, 2);
  EXPECT_EQ(C->Offset, 12);
  EXPECT_EQ(Defs.Size(), 112);
  EXPECT_EQ(Defs.Count(), 3);
  EXPECT_EQ(Defs.Items(2), C);
  EXPECT_EQ(Defs.Items(-1), nullptr);
  EXPECT_EQ(Defs.Items(Defs.Count()), nullptr);
}

TEST(FieldDefsTest, LookupIgnoresAnsiCase) {
  TVantorFieldDefs Defs;
  Defs.AddFieldDef("ID");
  Defs.AddFieldDef("\xC4NDERUNG");  // "ÄNDERUNG" in Windows-1252
  Defs.AddFieldDef("id");
  struct TCase {
    std::string Name;
    int32_t Index;
  };
  const TCase Cases[] = {{"id", 0}, {"Id", 0}, {"\xE4nderung", 1}, {"\xC4nderung", 1}, {"IDX", -1}, {"", -1}};
  for (const TCase& C : Cases) EXPECT_EQ(Defs.IndexOf(C.Name), C.Index) << C.Name;
  EXPECT_EQ(Defs.FieldByName("\xE4NDERUNG"), Defs.Items(1));
}

TEST(FieldDefsTest, AnyBlobOnlyForBlobTypes) {
  for (int T = vdb::vtUnknown; T <= vdb::vtBlob; ++T) {
    TVantorFieldDefs Defs;
    Defs.AddFieldDef("A")->FieldType = vdb::vtString;
    Defs.AddFieldDef("B")->FieldType = static_cast<vdb::TVantorFieldTypes>(T);
    EXPECT_EQ(Defs.AnyBlob(), T == vdb::vtMemo || T == vdb::vtBlob) << T;
  }
}

TEST(FieldDefsTest, DestroyingADescriptorRemovesItAndKeepsTheOthersPlaces) {
  TVantorFieldDefs Defs;
  for (const char* Name : {"A", "B", "C"}) Defs.AddFieldDef(Name)->Size = 2;
  delete Defs.Items(1);
  ASSERT_EQ(Defs.Count(), 2);
  EXPECT_EQ(Defs.Items(1)->Name, "C");
  EXPECT_EQ(Defs.Items(1)->FieldNo, 2);
  EXPECT_EQ(Defs.Items(1)->Offset, 4);
  EXPECT_EQ(Defs.IndexOf("B"), -1);
}

TEST(FieldDefsTest, DescriptorWithoutOwnerStandsAlone) {
  auto Def = std::make_unique<TVantorFieldDef>(nullptr, "X");
  EXPECT_EQ(Def->Owner(), nullptr);
  EXPECT_EQ(Def->Name, "X");
}

TEST(FieldDefsTest, ClearEmptiesAndAllowsReuse) {
  TVantorFieldDefs Defs;
  Defs.AddFieldDef("A")->Size = 10;
  Defs.AddFieldDef("B")->Size = 10;
  Defs.Clear();
  EXPECT_EQ(Defs.Count(), 0);
  EXPECT_EQ(Defs.Size(), 0);
  TVantorFieldDef* A = Defs.AddFieldDef("A");
  EXPECT_EQ(A->FieldNo, 0);
  EXPECT_EQ(A->Offset, 0);
}

TEST(VariableDefsTest, BufferLifecycle) {
  TVantorVariableDefs Vars;
  EXPECT_EQ(Vars.Buffer(), nullptr);
  Vars.ClearBuffer();  // nothing to clear, must not fault
  Vars.AddFieldDef("?")->Size = 4;
  Vars.AddFieldDef("?")->Size = 6;
  Vars.SetBound(true);
  Vars.SetBufSize(Vars.Size());
  ASSERT_NE(Vars.Buffer(), nullptr);
  EXPECT_EQ(Vars.BufSize(), 10);
  EXPECT_TRUE(Vars.Bound()) << "SetBufSize leaves Bound alone";
  for (int32_t I = 0; I < Vars.BufSize(); ++I) EXPECT_EQ(Vars.Buffer()[I], 0);

  std::memset(Vars.Buffer(), 0xAB, 10);
  Vars.ClearBuffer();
  for (int32_t I = 0; I < Vars.BufSize(); ++I) EXPECT_EQ(Vars.Buffer()[I], 0);

  Vars.SetBufSize(3);
  EXPECT_EQ(Vars.BufSize(), 3);
  Vars.SetBufSize(-1);
  EXPECT_EQ(Vars.Buffer(), nullptr);
  EXPECT_EQ(Vars.BufSize(), 0);

  Vars.SetBufSize(8);
  Vars.Clear();
  EXPECT_EQ(Vars.Count(), 0);
  EXPECT_EQ(Vars.Buffer(), nullptr);
  EXPECT_EQ(Vars.BufSize(), 0);
  EXPECT_FALSE(Vars.Bound());
}

TEST(VariableDefsTest, ClearThroughBaseReferenceFreesTheBuffer) {
  TVantorVariableDefs Vars;
  Vars.AddFieldDef("?");
  Vars.SetBufSize(16);
  Vars.SetBound(true);
  static_cast<TVantorFieldDefs&>(Vars).Clear();
  EXPECT_EQ(Vars.Buffer(), nullptr);
  EXPECT_FALSE(Vars.Bound());
}

}  // namespace
