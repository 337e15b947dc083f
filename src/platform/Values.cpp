#include "platform/Values.h"

#include <cmath>
#include <limits>

TCurrency TCurrency::FromDouble(double v) {
    // Out-of-range values saturate instead of overflowing; NaN has no amount and gives 0.
    double scaled = std::round(v * 10000.0);
    if (std::isnan(scaled)) return TCurrency{0};
    if (scaled >= 9223372036854775807.0) return TCurrency{std::numeric_limits<int64_t>::max()};
    if (scaled <= -9223372036854775808.0) return TCurrency{std::numeric_limits<int64_t>::min()};
    return TCurrency{static_cast<int64_t>(scaled)};
}

TVariant TVariant::Other(TVarType type) {
    TVariant v;
    v.FType = type;
    return v;
}

TVariant TVariant::Null() { return Other(varNull); }

TVariant TVariant::Integer(TVarType type, int64_t value) {
    TVariant v = Other(type);
    v.FInt = value;
    return v;
}

TVariant TVariant::UInt64(uint64_t value) { return Integer(varUInt64, static_cast<int64_t>(value)); }

TVariant TVariant::Currency(TCurrency value) { return Integer(varCurrency, value.scaled); }

TVariant TVariant::Boolean(bool value) { return Integer(varBoolean, value ? 1 : 0); }

TVariant TVariant::Float(TVarType type, double value) {
    TVariant v = Other(type);
    v.FFloat = value;
    return v;
}

TVariant TVariant::Date(double dateTime) { return Float(varDate, dateTime); }

TVariant TVariant::String(TVarType type, std::string value) {
    TVariant v = Other(type);
    v.FText = std::move(value);
    return v;
}

TVariant TVariant::Dispatch(void* value) {
    TVariant v = Other(varDispatch);
    v.FPointer = value;
    return v;
}

TVarRec TVarRec::Pointer(const void* p, const TObject* object) {
    TVarRec r;
    r.FKind = vtPointer;
    r.FPointer = p;
    r.FObject = object;
    return r;
}

TVarRec TVarRec::Class(const std::type_info& type) {
    TVarRec r;
    r.FKind = vtClass;
    r.FClass = &type;
    return r;
}

TVarRec TVarRec::Interface(const void* p) {
    TVarRec r = Pointer(p);
    r.FKind = vtInterface;
    return r;
}

TVarRec TVarRec::Text(Kind kind, std::string v) {
    TVarRec r;
    r.FKind = kind;
    r.FText = std::move(v);
    return r;
}

TVarRec TVarRec::WideChar(std::string utf8Char) { return Text(vtWideChar, std::move(utf8Char)); }
