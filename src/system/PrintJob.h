// Print jobs to the user's default CUPS destination: the one SetDefPrinter
// switches (the user's lpoptions default, or LPDEST/PRINTER when set, as lp
// takes it).
#pragma once

#include <string>

#include "automation/Internal.h"

namespace pm {

// The name of the destination a job without a printer name goes to; "" when
// there is none.
std::string DefaultPrintDestination();

// Sends the file as one job to the default destination and returns the job
// id. The data is with the scheduler when this returns, so the caller may
// remove the file. Raises error 482 (printer error) with the scheduler's
// reason when there is no default destination or the job is refused.
PM_INTERNAL int PrintFileToDefault(const std::string& path, const std::string& title, const std::string& mimeType);

}  // namespace pm
