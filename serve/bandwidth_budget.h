// The total bandwidth cap: a token bucket that what the server sends draws on (each download
// waits for its share) and what it receives is charged to; while the charges have run it into
// debt, new requests are refused with 503 and the seconds until it has paid them back.
#ifndef TELVARIO_SERVE_BANDWIDTH_BUDGET_H
#define TELVARIO_SERVE_BANDWIDTH_BUDGET_H

#include <cstddef>
#include <cstdint>

namespace telvario::serve {

class BandwidthBudget {
 public:
  // 0 megabits a second: no cap, every call below grants all.
  explicit BandwidthBudget(double megabitsPerSecond);

  bool Capped() const { return bytesPerMs_ > 0; }
  // Up to `wanted` bytes that may be sent now (0: wait and ask again).
  std::size_t Take(std::size_t wanted, std::uint64_t nowMs);
  // Bytes that came in, whatever the budget held.
  void Charge(std::uint64_t bytes, std::uint64_t nowMs);
  // Whole seconds until the budget is out of debt; 0 where it is not in debt.
  std::uint64_t SecondsInDebt(std::uint64_t nowMs);

 private:
  void Refill(std::uint64_t nowMs);

  double bytesPerMs_;
  double burst_;
  double tokens_;
  std::uint64_t lastMs_ = 0;
};

}  // namespace telvario::serve

#endif
