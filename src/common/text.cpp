#include "common/text.h"

WideString Widen(const char* ascii) {
  WideString out;
  for (; *ascii; ++ascii) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(*ascii)));
  return out;
}
