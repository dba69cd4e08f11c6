#pragma once

#include "cli/arguments.h"
#include "record/production_record.h"

#include <memory>
#include <ostream>

namespace tolvane::cli {

// The record the command names, opened only to read; null once err has been told why not.
std::unique_ptr<record::ProductionRecord>
openForReading(const CliCommand& command, std::ostream& err, record::RecordOptions options = {});

// `record show RECORD [--mac HEX12] [--since TIME]`: the record's lines, filtered.
int runRecordShowCommand(const CliCommand& command, std::ostream& out, std::ostream& err);
// `record export RECORD --format jsonl|csv`: the whole record on out.
int runRecordExportCommand(const CliCommand& command, std::ostream& out, std::ostream& err);
// `record units RECORD [--since TIME] [--format table|csv|jsonl]`: one line per MAC address.
int runRecordUnitsCommand(const CliCommand& command, std::ostream& out, std::ostream& err);
// `record release RECORD MAC --reason TEXT [--bench NAME]`: frees the MAC address of an
// unconfirmed or pending unit.
int runRecordReleaseCommand(const CliCommand& command, std::ostream& out, std::ostream& err);
// `record import FILE.jsonl --into RECORD`: the lines of a JSON-lines record added to RECORD.
int runRecordImportCommand(const CliCommand& command, std::ostream& out, std::ostream& err);

} // namespace tolvane::cli
