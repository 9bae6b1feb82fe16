// The document's XMP metadata kept in step with its information dictionary:
// viewers that read the packet show what the information entries say.
#pragma once

#include <map>
#include <string>

namespace pm::pdf {

// The packet with the properties that mirror the given information entries
// (by their dictionary names: Title, Author, Subject, Keywords, Creator,
// Producer, CreationDate, ModDate; dates as PDF dates) set to their values.
// Only properties the packet has are changed; the rest of it stays as it is.
std::string updateXmp(std::string packet, const std::map<std::string, std::string>& info);

// A PDF date ("D:20240131120000+01'00'") as an XMP date
// ("2024-01-31T12:00:00+01:00"); "" when it is none.
std::string xmpDate(const std::string& pdfDate);

}  // namespace pm::pdf
