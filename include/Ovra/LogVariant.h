#pragma once

#include <Ovra/Export.h>

#include <string>

namespace Ovra {

#if defined(_MSC_VER)
#pragma warning(push)
#pragma warning(disable : 4251)  // standard-library members of exported classes
#endif

// A typed value of the log database: one scalar or one wide string, tagged with its type. The
// scalar and the string are stored independently: setting one leaves the other as it was.
//
// The getters and conversion operators do not look at the type: each copies the stored bits at
// its own width from the start of the value, so read a value through the getter of its own width
// (the signed and unsigned forms of one width give the same bits).
class OVRA_PLATFORM_MISC_API LogVariant {
public:
    // Type numbers are part of the interface. Unsigned types share the type word of their signed
    // twin, so an unsigned column reads back as signed after the database is reopened.
    enum Type {
        None = 0,
        Int8 = 1,
        UInt8 = 2,
        Int16 = 3,
        UInt16 = 4,
        Int32 = 5,
        UInt32 = 6,
        Int64 = 7,
        Float = 8,
        Double = 9,
        Text = 10
    };

    LogVariant();
    LogVariant(signed char value);
    LogVariant(unsigned char value);
    LogVariant(short value);
    LogVariant(unsigned short value);
    LogVariant(int value);
    LogVariant(unsigned int value);
    LogVariant(long long value);
    LogVariant(float value);
    LogVariant(double value);
    LogVariant(const wchar_t* value);
    LogVariant(const std::wstring& value);
    LogVariant(const LogVariant& other);
    LogVariant& operator=(const LogVariant& other);
    virtual ~LogVariant();

    void SetValue(signed char value);
    void SetValue(unsigned char value);
    void SetValue(short value);
    void SetValue(unsigned short value);
    void SetValue(int value);
    void SetValue(unsigned int value);
    void SetValue(long long value);
    void SetValue(float value);
    void SetValue(double value);
    void SetValue(const wchar_t* value);
    void SetValue(const std::wstring& value);

    void GetValue(signed char& value) const;
    void GetValue(unsigned char& value) const;
    void GetValue(short& value) const;
    void GetValue(unsigned short& value) const;
    void GetValue(int& value) const;
    void GetValue(unsigned int& value) const;
    void GetValue(float& value) const;
    void GetValue(double& value) const;
    void GetValue(long long& value) const;
    void GetValue(std::wstring& value) const;

    operator signed char() const;
    operator unsigned char() const;
    operator short() const;
    operator unsigned short() const;
    operator int() const;
    operator unsigned int() const;
    operator long long() const;
    operator float() const;
    operator double() const;
    operator std::wstring() const;

    Type GetType() const;
    // The type named by a column type word ("TINYINT", "SMALLINT", "INT", "INT64", "FLOAT",
    // "DOUBLE", "TEXT"), matched after upper-casing a-z only; None for anything else.
    static Type GetType(const wchar_t* word);
    std::wstring GetTypeString() const;
    // The type word of a type; empty for None and for numbers outside 1-10.
    static std::wstring GetTypeString(Type type);

    // The text that SQL statements splice in: decimal integers (UInt32 written signed), Float as
    // "%13.8f" and Double as "%24.18f" in the classic locale, Text unchanged, None empty.
    std::wstring ToString() const;
    // The same text appended to `out`, for callers that build long statements.
    void AppendTo(std::wstring& out) const;

private:
    Type m_type;
    union Value {
        signed char i8;
        unsigned char u8;
        short i16;
        unsigned short u16;
        int i32;
        unsigned int u32;
        long long i64;
        float f32;
        double f64;
        unsigned char bytes[8];
    } m_value;
    std::wstring m_string;
};

#if defined(_MSC_VER)
#pragma warning(pop)
#endif

}  // namespace Ovra
