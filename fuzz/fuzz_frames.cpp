// The game's pipe bytes through the frame receiver and the generic command, as the
// game link runs them: whatever the game writes, the events posted and whether the
// link is refused must not depend on how the bytes were cut into reads. Each call
// gets the pending bytes in a buffer of exactly their size, so that a read past them
// is an overflow.
#include <memory>
#include <string>
#include <vector>

#include "events/event_queues.h"
#include "fuzz_check.h"
#include "gamelink/command_handler.h"
#include "gamelink/generic_gantry_command.h"

namespace {

const char kQueue[] = "fuzz";

struct Outcome {
  std::vector<QueuedEvent> events;
  bool refused = false;
  kiln::ByteVector left;  // a partial frame kept for the next read
};

std::vector<QueuedEvent> DrainQueue(EventQueues& queues) {
  std::vector<QueuedEvent> events;
  while (std::unique_ptr<QueuedEvent> e = queues.TakeEventFromQueue(kQueue)) events.push_back(*e);
  return events;
}

Outcome Receive(const uint8_t* data, const std::vector<size_t>& pieces) {
  EventQueues queues{u"MARBLE-GAME"};
  kiln::CommandHandler handler(new GenericGantryCommand(Widen("MARBLE-GAME"), queues));
  DrainQueue(queues);  // creates the queue, so that the posts reach it

  Outcome out;
  kiln::ByteVector pending;
  size_t offset = 0;
  for (size_t piece : pieces) {
    pending.insert(pending.end(), data + offset, data + offset + piece);
    offset += piece;
    kiln::ByteVector received(pending.begin(), pending.end());  // capacity == size
    const bool ok = handler.handleReceivedData(received);
    FUZZ_CHECK(received.size() <= pending.size());
    pending.assign(received.begin(), received.end());
    if (!ok) {
      out.refused = true;  // the link ends: nothing more is read
      break;
    }
  }
  out.events = DrainQueue(queues);
  out.left = pending;
  return out;
}

bool SameEvent(const QueuedEvent& a, const QueuedEvent& b) {
  return a.gameId == b.gameId && a.eventName == b.eventName && a.param1 == b.param1 && a.param2 == b.param2 &&
         a.param3 == b.param3 && a.param4 == b.param4 && a.param5 == b.param5 && a.param6 == b.param6 &&
         a.param7 == b.param7 && a.param8 == b.param8;
}

void CheckSame(const Outcome& whole, const Outcome& cut) {
  FUZZ_CHECK(cut.refused == whole.refused);
  FUZZ_CHECK(cut.events.size() == whole.events.size());
  for (size_t i = 0; i < whole.events.size(); ++i) FUZZ_CHECK(SameEvent(cut.events[i], whole.events[i]));
  if (!whole.refused) FUZZ_CHECK(cut.left == whole.left);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const Outcome whole = Receive(data, {size});
  for (const QueuedEvent& e : whole.events) FUZZ_CHECK(e.gameId == Widen("MARBLE-GAME"));
  CheckSame(whole, Receive(data, OneBytePieces(size)));
  CheckSame(whole, Receive(data, RandomCuts(data, size, 1)));
  CheckSame(whole, Receive(data, RandomCuts(data, size, 2)));
  return 0;
}
