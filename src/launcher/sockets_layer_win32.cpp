#include <winsock2.h>

#include "launcher/sockets_layer.h"

// Version 2.0; the result is not needed: a listener that cannot work reports itself.
void StartSocketsLayer() {
  WSADATA data;
  WSAStartup(MAKEWORD(2, 0), &data);
}
