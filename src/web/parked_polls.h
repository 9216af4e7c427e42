// Polls of empty queues, parked until an event is posted or their second is up, so
// that a page waiting for events holds no other request. Everything but
// NotifyEventPosted runs on the web server thread.
#pragma once
#include <chrono>
#include <string>

#include "http/deferred_reply.h"

// How long a poll waits for an event before it answers "null".
constexpr std::chrono::milliseconds kPollWait{1000};

// A poll's first look: the queue's next event as its text, or false once the poll is
// parked (it is then answered later, through `later`).
bool TakeOrPark(const std::string& queueName, http::server::reply_deferral& later, std::string& text);

// Every parked poll, oldest first, takes the next event of its queue, if there is one.
void WakeParkedPolls();

// Every parked poll answers now, as at its deadline: its next event or "null".
void AnswerParkedPolls();

// From any thread, after a post: has the web server thread wake the parked polls.
// Posts that come while a wake-up is pending share it; with no poll waiting, nothing
// is woken.
void NotifyEventPosted();

// Polls parked and still waiting.
std::size_t ParkedPollCount();
