// The body a transfer's record and a responsiveness record's load share: the start-up, the bytes
// and seconds counted, each connection's end and every 100 ms sample.
#ifndef TELVARIO_CLI_TRANSFER_RECORD_H
#define TELVARIO_CLI_TRANSFER_RECORD_H

#include "record_fields.h"
#include "results_records.h"

namespace telvario::cli {

// Reads the body into `transfer`, whose outcome is read already (a failed one counted nothing).
void ReadTransferBody(const RecordFields& fields, TransferRecord& transfer);

}  // namespace telvario::cli

#endif
