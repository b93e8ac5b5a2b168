// The record of Download and Upload, whose body a responsiveness record shares for its load.
#include "transfer_record.h"

#include "record_fields.h"

namespace telvario::cli {
namespace {

ConnectionRecord ReadConnection(const nlohmann::json& item, const std::string& where) {
  const RecordFields fields(item, where);
  ConnectionRecord connection;
  connection.direction = fields.Text("direction");
  connection.opened = fields.Flag("opened");
  connection.broke = fields.Flag("broke");
  connection.stalled = fields.Flag("stalled");
  connection.endedAt = fields.Number("endedAt");
  connection.failure = fields.Text("failure");
  return connection;
}

ThroughputSample ReadSample(const nlohmann::json& item, const std::string& where) {
  const RecordFields fields(item, where);
  ThroughputSample sample;
  sample.t = fields.RequiredNumber("t");
  sample.bytes = fields.RequiredNumber("bytes");
  fields.EachItem("connections", "connection",
                  [&sample](const nlohmann::json& bytes, const std::string& itemWhere) {
                    sample.connections.push_back(RecordFields::ItemNumber(bytes, itemWhere));
                  });
  return sample;
}

}  // namespace

double TransferRecord::BrokenConnections() const {
  double broken = 0;
  for (const ConnectionRecord& connection : connections) broken += connection.broke ? 1 : 0;
  return broken;
}

bool TransferRecord::Measured() const {
  return outcome.Succeeded() && (bytes.has_value() || outcome.failure.empty());
}

void ReadTransferBody(const RecordFields& fields, TransferRecord& transfer) {
  transfer.startupSeconds = fields.Number("startupSeconds");
  transfer.bytes = fields.Number("bytes");
  transfer.elapsed = fields.Number("elapsed");
  fields.EachItem("connections", "connection",
                  [&transfer](const nlohmann::json& item, const std::string& where) {
                    transfer.connections.push_back(ReadConnection(item, where));
                  });
  fields.EachItem("samples", "sample",
                  [&transfer](const nlohmann::json& item, const std::string& where) {
                    transfer.samples.push_back(ReadSample(item, where));
                  });
  // A failed run counted nothing: what it states of its count is no measurement.
  if (!transfer.outcome.Succeeded()) {
    transfer.startupSeconds.reset();
    transfer.bytes.reset();
    transfer.elapsed.reset();
  }
}

TransferRecord ReadTransferRecord(const nlohmann::json& record) {
  TransferRecord transfer;
  transfer.measurement = RecordFields(record, "the transfer record").Text("measurement");
  const RecordFields fields(record, "the " + transfer.measurement + " record");
  transfer.url = fields.Text("url");
  transfer.streams = fields.Number("streams");
  transfer.durationSeconds = fields.Number("durationSeconds");
  transfer.outcome = fields.Outcome();
  ReadTransferBody(fields, transfer);
  return transfer;
}

}  // namespace telvario::cli
