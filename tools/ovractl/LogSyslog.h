#pragma once

// Log records as RFC 5424 syslog messages, and their octet-counting frame (RFC 6587) for TCP.

#include <Ovra/LogService.h>

#include <list>
#include <string>

namespace ovractl {

struct SyslogHeader {
    std::string hostname;  // printable ASCII; "-" when empty
    std::string procId;
    std::string msgColumn;  // the column sent as MSG; empty: every column as Name=value
};

// <14>1 TIMESTAMP HOSTNAME ovra PROCID log [ovra@32473 cursor="..." Col="value" ...] MSG
// (user.info; the record's Time as UTC with milliseconds; NULL columns left out).
std::string SyslogMessage(const std::list<Ovra::LogService::FieldData>& record,
                          const std::wstring& cursor, const SyslogHeader& header);
// "LEN SP MSG".
std::string OctetCounted(const std::string& message);

}  // namespace ovractl
