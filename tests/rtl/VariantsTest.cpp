#include "rtl/Variants.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace {

using vcl::Variant;

TEST(VariantsTest, TypeCodesAreTheOleOnes) {
  const std::pair<vcl::TVarType, int> codes[] = {
      {vcl::varEmpty, 0},     {vcl::varNull, 1},      {vcl::varSmallint, 2},
      {vcl::varInteger, 3},   {vcl::varSingle, 4},    {vcl::varDouble, 5},
      {vcl::varCurrency, 6},  {vcl::varDate, 7},      {vcl::varOleStr, 8},
      {vcl::varBoolean, 11},  {vcl::varVariant, 12},  {vcl::varShortInt, 16},
      {vcl::varByte, 17},     {vcl::varWord, 18},     {vcl::varLongWord, 19},
      {vcl::varInt64, 20},    {vcl::varString, 0x100}, {vcl::varArray, 0x2000},
  };
  for (auto [code, value] : codes) EXPECT_EQ(code, value);
}

TEST(VariantsTest, ConstructorsPickTheMatchingType) {
  const std::string s = "text";
  struct Case {
    Variant V;
    vcl::TVarType Type;
    std::string Text;
  } cases[] = {
      {Variant(), vcl::varEmpty, ""},
      {int16_t{-5}, vcl::varSmallint, "-5"},
      {42, vcl::varInteger, "42"},
      {0.1f, vcl::varSingle, "0.1"},
      {0.1, vcl::varDouble, "0.1"},
      {vcl::Currency::FromScaled(15000), vcl::varCurrency, "1.5"},
      {vcl::EncodeDate(2024, 3, 5) + 0.4375, vcl::varDouble, "45356.4375"},
      {vcl::TDateTime(vcl::EncodeDate(2024, 3, 5) + 0.4375), vcl::varDate, "2024-03-05 10:30:00"},
      {true, vcl::varBoolean, "True"},
      {false, vcl::varBoolean, "False"},
      {static_cast<signed char>(-3), vcl::varShortInt, "-3"},
      {uint8_t{200}, vcl::varByte, "200"},
      {uint16_t{60000}, vcl::varWord, "60000"},
      {uint32_t{4000000000u}, vcl::varLongWord, "4000000000"},
      {INT64_MIN, vcl::varInt64, "-9223372036854775808"},
      {9000000000LL, vcl::varInt64, "9000000000"},
      {uint64_t{5}, vcl::varInt64, "5"},
      {"abc", vcl::varString, "abc"},
      {s, vcl::varString, "text"},
      {std::string_view("view"), vcl::varString, "view"},
      {'c', vcl::varString, "c"},
      {vcl::Null(), vcl::varNull, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(vcl::VarType(c.V), c.Type) << c.Text;
    EXPECT_EQ(vcl::VarToStr(c.V), c.Text);
  }
  EXPECT_THROW(Variant(uint64_t{1} << 63), vcl::EVariantOverflowError);
  // Scalars stay inside the object.
  EXPECT_LE(sizeof(Variant), sizeof(std::string) + 8);
}

TEST(VariantsTest, Predicates) {
  struct Case {
    Variant V;
    bool Null, Empty, Ordinal, Float, Numeric, Str, Array;
  } cases[] = {
      {vcl::Null(), true, false, false, false, false, false, false},
      {vcl::Unassigned(), false, true, false, false, false, false, false},
      {7, false, false, true, false, true, false, false},
      {int64_t{7}, false, false, true, false, true, false, false},
      {true, false, false, true, false, true, false, false},
      {1.5, false, false, false, true, true, false, false},
      {vcl::Currency{}, false, false, false, true, true, false, false},
      {vcl::TDateTime(1.0), false, false, false, false, false, false, false},
      {"x", false, false, false, false, false, true, false},
      {vcl::VarAsType("x", vcl::varOleStr), false, false, false, false, false, true, false},
      {vcl::VarArrayOf({1, 2}), false, false, false, false, false, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(vcl::VarTypeAsText(c.V.Type()));
    EXPECT_EQ(vcl::VarIsNull(c.V), c.Null);
    EXPECT_EQ(vcl::VarIsEmpty(c.V), c.Empty);
    EXPECT_EQ(vcl::VarIsOrdinal(c.V), c.Ordinal);
    EXPECT_EQ(vcl::VarIsFloat(c.V), c.Float);
    EXPECT_EQ(vcl::VarIsNumeric(c.V), c.Numeric);
    EXPECT_EQ(vcl::VarIsStr(c.V), c.Str);
    EXPECT_EQ(vcl::VarIsArray(c.V), c.Array);
    EXPECT_EQ(vcl::VarArrayDimCount(c.V), c.Array ? 1 : 0);
  }
}

TEST(VariantsTest, NumericConversions) {
  struct Case {
    Variant V;
    int32_t I;
    int64_t I64;
    double D;
    bool B;
  } cases[] = {
      {Variant(), 0, 0, 0, false},
      {42, 42, 42, 42, true},
      {2.5, 2, 2, 2.5, true},     // ties to even
      {3.5, 4, 4, 3.5, true},
      {-2.5, -2, -2, -2.5, true},
      {-0.4, 0, 0, -0.4, true},
      {true, -1, -1, -1, true},   // OLE's True
      {false, 0, 0, 0, false},
      {vcl::Currency::FromScaled(25000), 2, 2, 2.5, true},
      {vcl::Currency::FromScaled(-35000), -4, -4, -3.5, true},
      {" 17 ", 17, 17, 17, true},
      {"1.5", 2, 2, 1.5, true},
      {"1e3", 1000, 1000, 1000, true},
      {vcl::TDateTime(2.75), 3, 3, 2.75, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(vcl::VarTypeAsText(c.V.Type()) + " " + vcl::VarToStr(c.V));
    EXPECT_EQ(c.V.AsInteger(), c.I);
    EXPECT_EQ(c.V.AsInt64(), c.I64);
    EXPECT_EQ(c.V.AsDouble(), c.D);
    EXPECT_EQ(c.V.AsBoolean(), c.B);
  }
}

void ExpectRaises(const std::function<void()>& Call, const std::string& Message,
                  const char* Why) {
  try {
    Call();
    ADD_FAILURE() << Why << ": no exception";
  } catch (const vcl::EVariantError& e) {
    EXPECT_EQ(e.Message(), Message) << Why;
  } catch (const std::exception& e) {
    ADD_FAILURE() << Why << ": wrong exception " << e.what();
  }
}

TEST(VariantsTest, BadConversionsRaiseTheFrameworksTexts) {
  const Variant null = vcl::Null();
  const Variant text = "abc";
  struct Case {
    const char* Why;
    std::function<void()> Call;
    std::string Message;
  } cases[] = {
      {"null to integer", [&] { null.AsInteger(); },
       "Could not convert variant of type (Null) into type (Integer)"},
      {"null to double", [&] { null.AsDouble(); },
       "Could not convert variant of type (Null) into type (Double)"},
      {"null to int64", [&] { null.AsInt64(); },
       "Could not convert variant of type (Null) into type (Int64)"},
      {"null to boolean", [&] { null.AsBoolean(); },
       "Could not convert variant of type (Null) into type (Boolean)"},
      {"null to date", [&] { null.AsDateTime(); },
       "Could not convert variant of type (Null) into type (Date)"},
      {"null to currency", [&] { null.AsCurrency(); },
       "Could not convert variant of type (Null) into type (Currency)"},
      {"null to string", [&] { null.AsString(); },
       "Could not convert variant of type (Null) into type (String)"},
      {"text to double", [&] { text.AsDouble(); },
       "Could not convert variant of type (String) into type (Double)"},
      {"text to integer", [&] { text.AsInteger(); },
       "Could not convert variant of type (String) into type (Integer)"},
      {"text to date", [&] { text.AsDateTime(); },
       "Could not convert variant of type (String) into type (Date)"},
      {"text to boolean", [] { Variant("yes").AsBoolean(); },
       "Could not convert variant of type (String) into type (Boolean)"},
      {"olestr to double", [] { vcl::VarAsType("x", vcl::varOleStr).AsDouble(); },
       "Could not convert variant of type (OleStr) into type (Double)"},
      {"array to string", [] { vcl::VarArrayOf({1}).AsString(); },
       "Could not convert variant of type (Array Variant) into type (String)"},
      {"byte array to integer", [] { vcl::VarArrayCreate(0, 1, vcl::varByte).AsInteger(); },
       "Could not convert variant of type (Array Byte) into type (Integer)"},
      {"int64 to integer", [] { Variant(int64_t{1} << 40).AsInteger(); },
       "Overflow while converting variant of type (Int64) into type (Integer)"},
      {"double to integer", [] { Variant(3e9).AsInteger(); },
       "Overflow while converting variant of type (Double) into type (Integer)"},
      {"huge double to int64", [] { Variant(1e19).AsInt64(); },
       "Overflow while converting variant of type (Double) into type (Int64)"},
      {"nan to int64", [] { Variant(std::nan("")).AsInt64(); },
       "Overflow while converting variant of type (Double) into type (Int64)"},
      {"text overflow", [] { Variant("99999999999").AsInteger(); },
       "Overflow while converting variant of type (String) into type (Integer)"},
      {"int64 to currency", [] { Variant(INT64_MAX).AsCurrency(); },
       "Overflow while converting variant of type (Int64) into type (Currency)"},
      {"double to currency", [] { Variant(1e300).AsCurrency(); },
       "Overflow while converting variant of type (Double) into type (Currency)"},
      {"to smallint", [] { vcl::VarAsType(70000, vcl::varSmallint); },
       "Overflow while converting variant of type (Integer) into type (Smallint)"},
      {"to byte", [] { vcl::VarAsType(-1, vcl::varByte); },
       "Overflow while converting variant of type (Integer) into type (Byte)"},
      {"to single", [] { vcl::VarAsType(1e300, vcl::varSingle); },
       "Overflow while converting variant of type (Double) into type (Single)"},
      {"unknown type", [] { vcl::VarAsType(1, 0x0E); }, "Invalid variant type"},
  };
  for (const Case& c : cases) ExpectRaises(c.Call, c.Message, c.Why);
  EXPECT_EQ(vcl::VarToStr(null), "");
  EXPECT_THROW(null.AsInteger(), vcl::EVariantTypeCastError);
  EXPECT_THROW(Variant(3e9).AsInteger(), vcl::EVariantOverflowError);
}

TEST(VariantsTest, TextAndDateConversions) {
  EXPECT_TRUE(Variant(" TRUE ").AsBoolean());
  EXPECT_FALSE(Variant("false").AsBoolean());
  EXPECT_FALSE(Variant("0").AsBoolean());
  EXPECT_TRUE(Variant("-2.5").AsBoolean());
  EXPECT_EQ(double(Variant("2024-03-05 10:30:00").AsDateTime()),
            double(vcl::EncodeDate(2024, 3, 5)) + 0.4375);
  EXPECT_EQ(double(Variant(1.25).AsDateTime()), 1.25);
  EXPECT_EQ(double(Variant().AsDateTime()), 0.0);
  EXPECT_EQ(Variant(int64_t{-7}).AsString(), "-7");
  EXPECT_EQ(Variant(1e20).AsString(), "1E20");
  EXPECT_EQ(Variant(vcl::TDateTime(-1.25)).AsString(), "1899-12-29 06:00:00");
  EXPECT_EQ(Variant("12.34567").AsCurrency().Val, 123457);
  // Integer text takes the integer syntax, hexadecimal included; float text does not.
  EXPECT_EQ(Variant("$10").AsInteger(), 16);
  EXPECT_THROW(Variant("$10").AsDouble(), vcl::EVariantTypeCastError);
}

TEST(VariantsTest, VarAsTypeConvertsAndKeepsTheTargetType) {
  struct Case {
    Variant V;
    vcl::TVarType Type;
    std::string Text;
  } cases[] = {
      {"42", vcl::varSmallint, "42"},
      {"42", vcl::varShortInt, "42"},
      {255, vcl::varByte, "255"},
      {65535, vcl::varWord, "65535"},
      {"4294967295", vcl::varLongWord, "4294967295"},
      {3.7, vcl::varInteger, "4"},
      {"9000000000", vcl::varInt64, "9000000000"},
      {"0.1", vcl::varSingle, "0.1"},
      {"2.5", vcl::varCurrency, "2.5"},
      {2.0, vcl::varDate, "1900-01-01 00:00:00"},
      {1, vcl::varBoolean, "True"},
      {12, vcl::varOleStr, "12"},
      {vcl::VarAsType(12, vcl::varOleStr), vcl::varString, "12"},
      {"x", vcl::varVariant, "x"},
      {7, vcl::varEmpty, ""},
      {7, vcl::varNull, ""},
  };
  for (const Case& c : cases) {
    const Variant r = vcl::VarAsType(c.V, c.Type);
    EXPECT_EQ(vcl::VarType(r), c.Type == vcl::varVariant ? c.V.Type() : c.Type) << c.Text;
    EXPECT_EQ(vcl::VarToStr(r), c.Text);
  }
}

TEST(VariantsTest, CurrencyTextIsExact) {
  struct Case {
    const char* Text;
    bool Ok;
    int64_t Scaled;
  } cases[] = {
      {"0", true, 0},
      {"1.5", true, 15000},
      {" -12.3456 ", true, -123456},
      {"+.5", true, 5000},
      {"7.", true, 70000},
      {"0.00005", true, 0},          // tie to even
      {"0.00015", true, 2},
      {"0.000051", true, 1},
      {"-0.00015", true, -2},
      {"922337203685477.5807", true, INT64_MAX},
      {"-922337203685477.5808", true, INT64_MIN},
      {"922337203685477.5808", false, 0},
      {"922337203685477.58075", false, 0},
      {"99999999999999999999999", false, 0},
      {"", false, 0},
      {".", false, 0},
      {"1,5", false, 0},
      {"1e3", false, 0},
      {"--1", false, 0},
  };
  for (const Case& c : cases) {
    vcl::Currency v{99};
    EXPECT_EQ(vcl::TryStrToCurr(c.Text, v), c.Ok) << c.Text;
    EXPECT_EQ(v.Val, c.Ok ? c.Scaled : 99) << c.Text;
  }
  const std::pair<int64_t, const char*> texts[] = {
      {0, "0"}, {15000, "1.5"}, {-1, "-0.0001"}, {10000, "1"}, {123450, "12.345"},
      {INT64_MIN, "-922337203685477.5808"}, {INT64_MAX, "922337203685477.5807"}};
  for (auto [scaled, text] : texts) {
    EXPECT_EQ(vcl::CurrToStr(vcl::Currency::FromScaled(scaled)), text);
    vcl::Currency back;
    ASSERT_TRUE(vcl::TryStrToCurr(text, back));
    EXPECT_EQ(back.Val, scaled);
  }
  EXPECT_EQ(vcl::Currency::FromDouble(1.23456).Val, 12346);
  EXPECT_EQ(vcl::Currency::FromDouble(-0.5).Val, -5000);
  EXPECT_THROW(vcl::Currency::FromDouble(INFINITY), vcl::EVariantOverflowError);
}

int Sign(std::weak_ordering O) { return O < 0 ? -1 : O > 0 ? 1 : 0; }

TEST(VariantsTest, ComparisonAcrossTypes) {
  const double two53 = 9007199254740992.0;
  struct Case {
    Variant A, B;
    int Expected;
  } cases[] = {
      {1, 1.0, 0},
      {1, int64_t{1}, 0},
      {uint8_t{200}, int16_t{200}, 0},
      {2, 1.5, 1},
      {int64_t{9007199254740993LL}, two53, 1},       // beyond double precision
      {INT64_MAX, 9223372036854775808.0, -1},
      {INT64_MIN, -9223372036854775808.0, 0},
      {vcl::Currency::FromScaled(15000), 1.5, 0},
      {vcl::Currency::FromScaled(10001), 1, 1},
      {vcl::Currency::FromScaled(-10000), int64_t{-1}, 0},
      {vcl::TDateTime(2.0), 2, 0},
      {vcl::TDateTime(vcl::EncodeDate(2024, 1, 1)), "2024-01-01", 0},
      {vcl::TDateTime(vcl::EncodeDate(2024, 1, 1)), "2023-12-31 23:59:59", 1},
      {"a", "b", -1},
      {"B", "a", -1},              // by bytes, case matters
      {"z", "\xE9", -1},           // bytes compare unsigned
      {"ab", "a", 1},
      {"10", 9, 1},                // text against a number reads as a number
      {"9223372036854775807", INT64_MAX, 0},
      {"1.5", 1.5, 0},
      {false, true, -1},
      {true, true, 0},
      {"True", true, 0},
      {vcl::Null(), vcl::Null(), 0},
      {Variant(), Variant(), 0},
      {Variant(), vcl::Null(), -1},
      {vcl::Null(), 0, -1},
      {Variant(), 0, -1},
      {vcl::Null(), "", -1},
      {std::nan(""), std::nan(""), 0},
      {std::nan(""), -1e300, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(vcl::VarTypeAsText(c.A.Type()) + " " + vcl::VarToStr(c.A) + " vs " +
                 vcl::VarTypeAsText(c.B.Type()) + " " + vcl::VarToStr(c.B));
    EXPECT_EQ(Sign(c.A <=> c.B), c.Expected);
    EXPECT_EQ(Sign(c.B <=> c.A), -c.Expected);
    EXPECT_EQ(c.A == c.B, c.Expected == 0);
  }
  EXPECT_THROW((void)(Variant("abc") == Variant(1)), vcl::EVariantTypeCastError);
  EXPECT_TRUE(Variant(5) == 5);
  EXPECT_TRUE(Variant("x") != "y");
  EXPECT_TRUE(Variant(1) < 2.5);
}

TEST(VariantsTest, VariantArrays) {
  Variant a = vcl::VarArrayOf({1, "two", 3.5, vcl::Null()});
  EXPECT_EQ(vcl::VarType(a), vcl::varArray | vcl::varVariant);
  EXPECT_EQ(vcl::VarArrayLowBound(a, 1), 0);
  EXPECT_EQ(vcl::VarArrayHighBound(a, 1), 3);
  EXPECT_EQ(a.GetElement(1).AsString(), "two");
  EXPECT_TRUE(vcl::VarIsNull(vcl::VarArrayGet(a, 3)));
  vcl::VarArrayPut(a, vcl::VarArrayOf({7}), 3);  // arrays nest
  EXPECT_EQ(a.GetElement(3).GetElement(0).AsInteger(), 7);

  Variant b = vcl::VarArrayCreate(-2, 2, vcl::varVariant);
  EXPECT_EQ(vcl::VarArrayLowBound(b, 1), -2);
  EXPECT_EQ(vcl::VarArrayHighBound(b, 1), 2);
  EXPECT_TRUE(vcl::VarIsEmpty(b.GetElement(-2)));
  b.PutElement("x", 2);
  EXPECT_EQ(b.GetElement(2).AsString(), "x");

  Variant none = vcl::VarArrayCreate(5, 4, vcl::varVariant);
  EXPECT_EQ(vcl::VarArrayLowBound(none, 1), 5);
  EXPECT_EQ(vcl::VarArrayHighBound(none, 1), 4);

  Variant ints = vcl::VarArrayCreate(1, 3, vcl::varInteger);
  EXPECT_EQ(vcl::VarType(ints.GetElement(1)), vcl::varInteger);
  EXPECT_EQ(ints.GetElement(1).AsInteger(), 0);
  ints.PutElement("12", 2);
  EXPECT_EQ(vcl::VarType(ints.GetElement(2)), vcl::varInteger);
  EXPECT_EQ(ints.GetElement(2).AsInteger(), 12);
  EXPECT_THROW(ints.PutElement("x", 3), vcl::EVariantTypeCastError);
  EXPECT_TRUE(ints.GetElement(3) == 0);  // a failed put changes nothing

  Variant strs = vcl::VarArrayCreate(0, 0, vcl::varOleStr);
  EXPECT_EQ(vcl::VarType(strs.GetElement(0)), vcl::varOleStr);

  const char* outOfBounds = "Variant or safe array index out of bounds";
  struct Case {
    const char* Why;
    std::function<void()> Call;
    std::string Message;
  } errors[] = {
      {"below low", [&] { a.GetElement(-1); }, outOfBounds},
      {"above high", [&] { a.PutElement(1, 4); }, outOfBounds},
      {"empty array", [&] { none.GetElement(5); }, outOfBounds},
      {"negative bounds", [&] { b.GetElement(3); }, outOfBounds},
      {"second dimension", [&] { vcl::VarArrayLowBound(a, 2); }, outOfBounds},
      {"scalar element", [] { Variant(1).GetElement(0); }, "Variant is not an array"},
      {"scalar bound", [] { vcl::VarArrayHighBound(Variant("x"), 1); }, "Variant is not an array"},
      {"bad bounds", [] { vcl::VarArrayCreate(3, 1, vcl::varVariant); },
       "Error creating variant or safe array"},
      {"null elements", [] { vcl::VarArrayCreate(0, 1, vcl::varNull); }, "Invalid variant type"},
      {"array elements", [] { vcl::VarArrayCreate(0, 1, vcl::varArray); }, "Invalid variant type"},
      {"ordering arrays", [&] { (void)(a < b); }, "Invalid variant operation"},
  };
  for (const Case& c : errors) ExpectRaises(c.Call, c.Message, c.Why);
}

TEST(VariantsTest, CopiesAreDeepAndMovesEmptyTheSource) {
  Variant a = vcl::VarArrayOf({1, vcl::VarArrayOf({"inner"})});
  Variant copy = a;
  EXPECT_TRUE(copy == a);
  Variant inner = copy.GetElement(1);
  inner.PutElement("changed", 0);
  copy.PutElement(inner, 1);
  copy.PutElement(99, 0);
  EXPECT_EQ(a.GetElement(0).AsInteger(), 1);
  EXPECT_EQ(a.GetElement(1).GetElement(0).AsString(), "inner");
  EXPECT_FALSE(copy == a);

  Variant moved = std::move(copy);
  EXPECT_TRUE(vcl::VarIsEmpty(copy));
  EXPECT_EQ(moved.GetElement(0).AsInteger(), 99);

  Variant s = std::string(100, 'x');
  Variant t = std::move(s);
  EXPECT_TRUE(vcl::VarIsEmpty(s));
  EXPECT_EQ(t.AsString().size(), 100u);

  // Assignment across kinds releases what was there.
  Variant v = "string";
  v = a;
  EXPECT_TRUE(v == a);
  v = 3.5;
  EXPECT_EQ(v.AsDouble(), 3.5);
  v = v;  // self-assignment keeps the value
  EXPECT_EQ(v.AsDouble(), 3.5);
  Variant& alias = a;
  a = alias;
  EXPECT_EQ(vcl::VarArrayHighBound(a, 1), 1);
  std::vector<Variant> many(50, a);
  many.insert(many.begin(), "front");  // relocation moves every element
  EXPECT_TRUE(many.back() == a);
}

TEST(VariantsTest, ByteArraysExposeTheirBytes) {
  const char blob[] = "\x00\x01\xFFpayload";
  Variant v = vcl::VarArrayFromBytes(blob, sizeof blob - 1);
  EXPECT_EQ(vcl::VarType(v), 0x2011);
  EXPECT_EQ(vcl::VarArrayHighBound(v, 1), static_cast<int32_t>(sizeof blob) - 2);
  EXPECT_EQ(vcl::VarType(v.GetElement(2)), vcl::varByte);
  EXPECT_EQ(v.GetElement(2).AsInteger(), 255);

  std::span<uint8_t> bytes = vcl::VarArrayBytes(v);
  ASSERT_EQ(bytes.size(), sizeof blob - 1);
  EXPECT_EQ(std::memcmp(bytes.data(), blob, bytes.size()), 0);
  bytes[0] = 0x42;
  EXPECT_EQ(v.GetElement(0).AsInteger(), 0x42);
  v.PutElement(7, 1);
  EXPECT_EQ(bytes[1], 7);
  EXPECT_THROW(v.PutElement(256, 1), vcl::EVariantOverflowError);
  EXPECT_THROW(v.PutElement(-1, 1), vcl::EVariantOverflowError);

  auto* p = static_cast<uint8_t*>(vcl::VarArrayLock(v));
  EXPECT_EQ(p, bytes.data());
  EXPECT_THROW(vcl::VarArrayRedim(v, 100), vcl::EVariantArrayLockedError);
  Variant copy = v;  // a copy has its own, unlocked bytes
  vcl::VarArrayRedim(copy, 1);
  EXPECT_EQ(vcl::VarArrayBytes(copy).size(), 2u);
  vcl::VarArrayUnlock(v);
  EXPECT_THROW(vcl::VarArrayUnlock(v), vcl::EVariantError);

  vcl::VarArrayRedim(v, 20);
  std::span<const uint8_t> grown = vcl::VarArrayBytes(std::as_const(v));
  ASSERT_EQ(grown.size(), 21u);
  EXPECT_EQ(grown[0], 0x42);
  EXPECT_EQ(grown[20], 0);

  Variant created = vcl::VarArrayCreate(0, 3, vcl::varByte);
  EXPECT_EQ(vcl::VarType(created), vcl::varArray | vcl::varByte);
  EXPECT_EQ(vcl::VarArrayBytes(created).size(), 4u);
  Variant empty = vcl::VarArrayFromBytes(nullptr, 0);
  EXPECT_EQ(vcl::VarArrayBytes(empty).size(), 0u);
  EXPECT_EQ(vcl::VarArrayHighBound(empty, 1), -1);

  EXPECT_TRUE(vcl::VarArrayFromBytes("ab", 2) == vcl::VarArrayFromBytes("ab", 2));
  EXPECT_FALSE(vcl::VarArrayFromBytes("ab", 2) == vcl::VarArrayFromBytes("ac", 2));
  EXPECT_FALSE(vcl::VarArrayFromBytes("ab", 2) == vcl::VarArrayOf({97, 98}));
  Variant notBytes = vcl::VarArrayOf({1});
  EXPECT_THROW(vcl::VarArrayBytes(notBytes), vcl::EVariantInvalidOpError);
  Variant scalar = 1;
  EXPECT_THROW(vcl::VarArrayLock(scalar), vcl::EVariantError);
}

}  // namespace
