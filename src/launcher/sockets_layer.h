// The system's sockets layer, started once before any listener exists.
#pragma once

void StartSocketsLayer();
