// The events posted while any queue exists, each held once and numbered in posting
// order; every queue is a position in this log. Bounded in events and in bytes: past
// either bound the oldest event is dropped, whoever had yet to take it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>

#include "events/queued_event.h"

// What one held event costs: its record and the text its fields keep on the heap.
std::size_t EventCost(const QueuedEvent& event);

class EventLog {
 public:
  EventLog(std::size_t maxEvents, std::size_t maxBytes) : maxEvents_(maxEvents), maxBytes_(maxBytes) {}

  // Appends a copy, then drops the oldest events while a bound is passed; the newest
  // event is always kept, however large.
  void Append(const QueuedEvent& event);
  // Drops the events numbered below `number`: every queue has taken them.
  void DropBefore(uint64_t number);
  void Clear() { DropBefore(next_); }

  uint64_t first() const { return next_ - entries_.size(); }  // number of the oldest event held
  uint64_t next() const { return next_; }                       // number of the next event appended
  const QueuedEvent& at(uint64_t number) const { return entries_[number - first()].event; }
  std::size_t bytes() const { return bytes_; }

 private:
  struct Entry {
    QueuedEvent event;
    std::size_t cost;
  };
  void DropOldest();

  std::deque<Entry> entries_;
  uint64_t next_ = 0;
  std::size_t bytes_ = 0;
  const std::size_t maxEvents_;
  const std::size_t maxBytes_;
};
