#include "events/event_log.h"

namespace {
// Heap blocks carry a header and are rounded up; this much stands for both.
constexpr std::size_t kBlockOverhead = 16;

std::size_t TextCost(const WideString& field) {
  // Short text lives inside the string object, which the record already counts.
  const char* data = reinterpret_cast<const char*>(field.data());
  const char* object = reinterpret_cast<const char*>(&field);
  if (data >= object && data < object + sizeof field) return 0;
  return (field.capacity() + 1) * sizeof(char16_t) + kBlockOverhead;
}
}  // namespace

std::size_t EventCost(const QueuedEvent& e) {
  std::size_t cost = sizeof(QueuedEvent) + kBlockOverhead;
  for (const WideString* f : {&e.gameId, &e.eventName, &e.param1, &e.param2, &e.param3, &e.param4, &e.param5,
                              &e.param6, &e.param7, &e.param8}) {
    cost += TextCost(*f);
  }
  return cost;
}

void EventLog::Append(const QueuedEvent& event) {
  entries_.push_back({event, 0});
  entries_.back().cost = EventCost(entries_.back().event);
  bytes_ += entries_.back().cost;
  ++next_;
  while (entries_.size() > 1 && (entries_.size() > maxEvents_ || bytes_ > maxBytes_)) DropOldest();
}

void EventLog::DropBefore(uint64_t number) {
  while (!entries_.empty() && first() < number) DropOldest();
}

void EventLog::DropOldest() {
  bytes_ -= entries_.front().cost;
  entries_.pop_front();
}
