#pragma once
// Tagged values for argument lists of mixed types, and a variant type.

#include <cstdint>
#include <string>
#include <typeinfo>

class TObject;

// Currency: a fixed-point number with four decimals, stored scaled by 10000.
struct TCurrency {
    int64_t scaled = 0;
    static TCurrency FromDouble(double v);
};

enum TVarType : uint16_t {
    varEmpty = 0x0000, varNull = 0x0001, varSmallint = 0x0002, varInteger = 0x0003,
    varSingle = 0x0004, varDouble = 0x0005, varCurrency = 0x0006, varDate = 0x0007,
    varOleStr = 0x0008, varDispatch = 0x0009, varError = 0x000A, varBoolean = 0x000B,
    varVariant = 0x000C, varUnknown = 0x000D, varShortInt = 0x0010, varByte = 0x0011,
    varWord = 0x0012, varLongWord = 0x0013, varInt64 = 0x0014, varUInt64 = 0x0015,
    varString = 0x0100, varUString = 0x0102, varArray = 0x2000,
};

class TVariant {
public:
    TVariant() = default;  // varEmpty
    static TVariant Null();
    static TVariant Integer(TVarType type, int64_t v);   // the signed integer types
    static TVariant UInt64(uint64_t v);
    static TVariant Float(TVarType type, double v);     // varSingle, varDouble
    static TVariant Currency(TCurrency v);
    static TVariant Date(double dateTime);
    static TVariant String(TVarType type, std::string v);  // varOleStr, varString, varUString
    static TVariant Boolean(bool v);
    static TVariant Dispatch(void* v);
    static TVariant Other(TVarType type);               // a type without a value of ours

    TVarType VarType() const { return FType; }
    int64_t AsInt64() const { return FInt; }
    uint64_t AsUInt64() const { return static_cast<uint64_t>(FInt); }
    double AsDouble() const { return FFloat; }
    TCurrency AsCurrency() const { return TCurrency{FInt}; }
    bool AsBoolean() const { return FInt != 0; }
    const std::string& AsString() const { return FText; }
    void* AsPointer() const { return FPointer; }

private:
    TVarType FType = varEmpty;
    int64_t FInt = 0;
    double FFloat = 0;
    std::string FText;
    void* FPointer = nullptr;
};

// One element of an argument list of mixed types.
class TVarRec {
public:
    enum Kind : uint8_t {
        vtInteger, vtBoolean, vtChar, vtExtended, vtString, vtPointer, vtPChar, vtObject,
        vtClass, vtWideChar, vtPWideChar, vtAnsiString, vtCurrency, vtVariant, vtInterface,
        vtWideString, vtInt64, vtUnicodeString, vtUInt64,
    };

    TVarRec(int v) : FKind(vtInteger), FInt(v) {}
    TVarRec(int64_t v) : FKind(vtInt64), FInt(v) {}
    TVarRec(long long v) : FKind(vtInt64), FInt(static_cast<int64_t>(v)) {}
    TVarRec(uint64_t v) : FKind(vtUInt64), FInt(static_cast<int64_t>(v)) {}
    TVarRec(bool v) : FKind(vtBoolean), FInt(v) {}
    TVarRec(char v) : FKind(vtChar), FText(1, v) {}
    TVarRec(double v) : FKind(vtExtended), FFloat(v) {}
    TVarRec(const char* v) : FKind(vtPChar), FText(v ? v : "") {}
    TVarRec(std::string v) : FKind(vtUnicodeString), FText(std::move(v)) {}
    TVarRec(TCurrency v) : FKind(vtCurrency), FInt(v.scaled) {}
    TVarRec(const TObject* v) : FKind(vtObject), FObject(v) {}
    TVarRec(const TVariant& v) : FKind(vtVariant), FVariant(v) {}
    // A raw address; `object` names the object it refers to when the caller knows one.
    static TVarRec Pointer(const void* p, const TObject* object = nullptr);
    static TVarRec Class(const std::type_info& type);
    static TVarRec Interface(const void* p);
    // A text of the given string kind (vtString, vtAnsiString, vtWideString, vtPWideChar, ...).
    static TVarRec Text(Kind kind, std::string v);
    static TVarRec WideChar(std::string utf8Char);

    Kind VType() const { return FKind; }
    int64_t AsInt64() const { return FInt; }
    uint64_t AsUInt64() const { return static_cast<uint64_t>(FInt); }
    double AsDouble() const { return FFloat; }
    bool AsBoolean() const { return FInt != 0; }
    TCurrency AsCurrency() const { return TCurrency{FInt}; }
    const std::string& AsText() const { return FText; }
    const void* AsPointer() const { return FPointer; }
    const TObject* AsObject() const { return FObject; }
    const std::type_info* AsClass() const { return FClass; }
    const TVariant& AsVariant() const { return FVariant; }

private:
    TVarRec() = default;
    Kind FKind = vtInteger;
    int64_t FInt = 0;
    double FFloat = 0;
    std::string FText;
    const void* FPointer = nullptr;
    const TObject* FObject = nullptr;
    const std::type_info* FClass = nullptr;
    TVariant FVariant;
};
