#pragma once
// Field types a written table can keep from the tables it is made from:
// what each one is, how a value given as text is stored in it, and which
// type holds the values of two fields that disagree.

#include <cstdint>
#include <optional>
#include <string>

namespace pw::db {

// Widest text a column holds, in characters.
inline constexpr std::size_t kTextColumnChars = 250;

struct FieldType {
  enum class Kind {
    Text,      // `chars` characters at most
    Memo,      // long text
    Ole,       // bytes
    YesNo,     // stored in the record's null mask
    Byte,      // 0..255
    Integer,   // 16 bits
    Long,      // 32 bits
    Currency,  // 64-bit count of ten-thousandths
    Single,
    Double,
    DateTime,  // days since 1899-12-30, as a double
    Guid,
    Decimal,  // `precision` digits, `scale` of them after the point
  };
  Kind kind = Kind::Text;
  int chars = static_cast<int>(kTextColumnChars);
  int precision = 18;
  int scale = 0;

  bool operator==(const FieldType&) const = default;

  static FieldType Text(int chars = static_cast<int>(kTextColumnChars)) {
    FieldType t;
    t.chars = chars;
    return t;
  }
  static FieldType Of(Kind kind) {
    FieldType t;
    t.kind = kind;
    return t;
  }
  static FieldType DecimalOf(int precision, int scale) {
    FieldType t;
    t.kind = Kind::Decimal;
    t.precision = precision;
    t.scale = scale;
    return t;
  }
};

// The stored type code of a type, and the bytes of its fixed value in a
// record (0 for text, memo and bytes, which are of variable length).
std::uint8_t TypeCode(const FieldType& type);
std::size_t FixedBytes(const FieldType& type);
bool IsFixed(const FieldType& type);

// A source field's type from its stored code and declared size (bytes;
// Jet 3 text counts one byte a character, later versions two), for a
// target that keeps types. Codes without an equal here (binary of fixed
// length, attachments, …) give what the target has always made of them:
// bytes for binary, text for the rest.
FieldType TypeFromCode(int code, int sizeBytes, int precision, int scale, bool jet3);

// The type that holds the values of fields of types `a` and `b`: the same
// type when they agree; the larger integer; currency for integers and
// currency; a decimal with room for both; a double for other numbers;
// text wide enough for both (how wide the other's values are written) when
// one is text or they have nothing in common; long text when one is long
// text or bytes meet anything else.
FieldType WiderType(const FieldType& a, const FieldType& b);

// Short name of a type for messages: "长整型", "文本(50)" …
std::string TypeName(const FieldType& type);

// The stored bytes of a fixed-length value given as text, the way the
// reading side writes values: integers and decimals in digits, floating
// point in its shortest form, dates as "yyyy-mm-dd[ hh:mm:ss]" (or a day
// number), GUIDs as 32 hex digits (in braces, dashes anywhere), yes/no as True/False (also 1, 0,
// -1, Yes, No). nullopt when the value does not fit the type: not a
// number, out of range, more decimal places than it keeps. A yes/no value
// is "\1" or "\0".
std::optional<std::string> EncodeFixedValue(const FieldType& type, const std::string& text);

}  // namespace pw::db
