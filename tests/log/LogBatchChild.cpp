// Second process for the crash test: appends batches of records to an existing log file and
// prints the id of every batch that Insert acknowledged, until it is killed.
//   ovra_log_batch_child PATH FIRST_BATCH
#include <Ovra/Bases/StringConv.h>
#include <Ovra/LogService.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const int kBatchRecords = 200;
const int kMaxBatches = 100000;  // ends by itself should nobody kill it

Ovra::LogService::FieldData Data(const wchar_t* name, const Ovra::LogVariant& value) {
    Ovra::LogService::FieldData data;
    data.name = name;
    data.value = value;
    return data;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    Ovra::LogService service;
    if (service.Open(Ovra::mbs_to_tcs(argv[1])) != 0) return 3;
    const int first = std::atoi(argv[2]);
    const std::wstring text(120, L'x');
    for (int batch = first; batch < first + kMaxBatches; ++batch) {
        std::list<Ovra::LogService::Record> records;
        for (int i = 0; i < kBatchRecords; ++i) {
            Ovra::LogService::Record record;
            record.time = 1700000000000LL + batch * kBatchRecords + i;
            record.data = {Data(L"Batch", Ovra::LogVariant(batch)),
                           Data(L"Msg", Ovra::LogVariant(text))};
            records.push_back(record);
        }
        if (service.Insert(records) != 0) return 4;
        std::printf("%d\n", batch);
        std::fflush(stdout);
    }
    return 0;
}
