// What the pipe channel asks of its platform: the transfer steps on a PipeIoState.
// Each gives a Windows error code, 0 for success or a transfer still in flight.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace kiln {
class CommandHandler;
}
struct PipeIoState;

PipeIoState* CreatePipeIo(kiln::CommandHandler* handler);
// Cancels what is in flight and waits for it before the buffers go.
void DestroyPipeIo(PipeIoState* io);

bool PipeIoIsOpen(const PipeIoState& io);
bool PipeIoHandleValid(const PipeIoState& io);

// Opens the pipe unless the state already holds an open one.
uint32_t PipeIoOpen(PipeIoState& io, const std::string& pipePath);
// Collects a completed read (handing it to the handler), then starts the next one.
uint32_t PipeIoReadStep(PipeIoState& io);
// Collects a completed write, then starts writing whatever is queued.
uint32_t PipeIoWriteStep(PipeIoState& io);
// Waits until the read in flight completes, the wake handle (an AutoResetEvent's
// Native(), -1 for none) is set, or the time-out passes; consumes the wake.
void PipeIoWait(PipeIoState& io, intptr_t wake, uint32_t timeoutMs);
void PipeIoQueue(PipeIoState& io, const uint8_t* bytes, size_t size);
// Ends the connection: cancels what is in flight, waits for it, closes the handle.
void PipeIoClose(PipeIoState& io);
