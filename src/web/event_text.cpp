#include "web/event_text.h"

#include "common/text.h"

std::string EventText(const QueuedEvent& e) {
  const WideString* fields[] = {&e.gameId, &e.eventName, &e.param1, &e.param2, &e.param3,
                                &e.param4, &e.param5,   &e.param6, &e.param7, &e.param8};
  WideString text;
  for (const WideString* f : fields) {
    text += *f;
    text += u'\t';
  }
  return WideToUtf8(text);
}
