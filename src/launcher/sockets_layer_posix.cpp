#include "launcher/sockets_layer.h"

void StartSocketsLayer() {}
