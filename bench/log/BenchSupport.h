#pragma once

// What both log benchmarks share: a scratch database file and the five-column records they write.

#include <Ovra/LogService.h>

#include <chrono>
#include <filesystem>
#include <list>
#include <string>

namespace logbench {

using Ovra::LogService;
using Ovra::LogVariant;

// A database path in the temporary folder, removed (with its journal and write-ahead files)
// before use and at the end.
class TempFile {
public:
    explicit TempFile(const std::string& tag) {
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        m_path = std::filesystem::temp_directory_path() /
                 ("ovra-log-bench-" + tag + "-" + std::to_string(stamp) + ".db");
        Remove();
    }
    ~TempFile() { Remove(); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    std::wstring Wide() const { return m_path.wstring(); }
    std::string Utf8() const { return m_path.string(); }

private:
    void Remove() {
        std::error_code ignored;
        for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
            std::filesystem::remove(m_path.string() + suffix, ignored);
        }
    }
    std::filesystem::path m_path;
};

inline LogService::Field MakeField(const wchar_t* name, LogVariant::Type type) {
    LogService::Field field;
    field.name = name;
    field.type = type;
    return field;
}

// The table: Time and four columns, a typical event record.
inline const std::list<LogService::Field>& Fields() {
    static const std::list<LogService::Field> fields = {
        MakeField(L"Level", LogVariant::Int32), MakeField(L"Value", LogVariant::Double),
        MakeField(L"Source", LogVariant::Text), MakeField(L"Msg", LogVariant::Text)};
    return fields;
}

// The values of record `i`.
inline std::list<LogService::FieldData> Values(int i) {
    std::list<LogService::FieldData> data(4);
    auto it = data.begin();
    it->name = L"Level", (it++)->value = LogVariant(i % 7);
    it->name = L"Value", (it++)->value = LogVariant(i * 0.25);
    it->name = L"Source", (it++)->value = LogVariant(L"camera-17/stream-2");
    it->name = L"Msg", it->value = LogVariant(L"motion detected in zone 4, recording started");
    return data;
}

}  // namespace logbench
