// The named-pipe client: opened for overlapped I/O, every transfer polled with
// GetOverlappedResult without waiting; manual-reset events mark the completions.
#include <windows.h>

#include "gamelink/command_handler.h"
#include "gamelink/pipe_channel.h"
#include "gamelink/pipe_io.h"

struct PipeIoState {
  HANDLE handle = INVALID_HANDLE_VALUE;
  kiln::CommandHandler* handler = nullptr;
  bool isOpen = false;
  kiln::ByteVector received;
  kiln::ByteVector readBuffer;
  kiln::ByteVector outgoing;
  kiln::ByteVector writing;
  bool readPending = false;
  bool writePending = false;
  HANDLE writeEvent = nullptr;
  HANDLE readEvent = nullptr;
  OVERLAPPED writeOverlapped{};
  OVERLAPPED readOverlapped{};
};

namespace {
constexpr DWORD kReadSize = 4096;

// The system may still write into the buffer and the OVERLAPPED record of a transfer
// in flight: it is cancelled, and its completion awaited, before either is reused or freed.
void FinishInFlight(PipeIoState& io) {
  if (io.handle == INVALID_HANDLE_VALUE) return;
  DWORD bytes = 0;
  if (io.readPending) {
    CancelIoEx(io.handle, &io.readOverlapped);
    GetOverlappedResult(io.handle, &io.readOverlapped, &bytes, TRUE);
    io.readPending = false;
  }
  if (io.writePending) {
    CancelIoEx(io.handle, &io.writeOverlapped);
    GetOverlappedResult(io.handle, &io.writeOverlapped, &bytes, TRUE);
    io.writePending = false;
  }
}
}  // namespace

PipeIoState* CreatePipeIo(kiln::CommandHandler* handler) {
  auto* io = new PipeIoState;
  io->handler = handler;
  io->writeEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  io->readEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  io->writeOverlapped.hEvent = io->writeEvent;
  io->readOverlapped.hEvent = io->readEvent;
  return io;
}

void DestroyPipeIo(PipeIoState* io) {
  if (!io) return;
  FinishInFlight(*io);
  if (io->readEvent) CloseHandle(io->readEvent);
  if (io->writeEvent) CloseHandle(io->writeEvent);
  io->isOpen = false;
  if (io->handle != INVALID_HANDLE_VALUE) CloseHandle(io->handle);
  delete io;
}

bool PipeIoIsOpen(const PipeIoState& io) { return io.isOpen; }
bool PipeIoHandleValid(const PipeIoState& io) { return io.handle != INVALID_HANDLE_VALUE; }

uint32_t PipeIoOpen(PipeIoState& io, const std::string& pipePath) {
  if (io.isOpen) return 0;
  // No pipe-state call follows: the pipe is read in its default byte mode.
  io.handle = CreateFileA(pipePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          FILE_FLAG_WRITE_THROUGH | FILE_FLAG_OVERLAPPED | FILE_FLAG_NO_BUFFERING, nullptr);
  if (io.handle == INVALID_HANDLE_VALUE) return GetLastError();
  io.isOpen = true;
  return 0;
}

uint32_t PipeIoReadStep(PipeIoState& io) {
  if (io.readPending) {
    DWORD bytes = 0;
    if (!GetOverlappedResult(io.handle, &io.readOverlapped, &bytes, FALSE)) {
      DWORD error = GetLastError();
      return error == ERROR_IO_INCOMPLETE ? 0 : error;
    }
    io.readBuffer.resize(bytes);
    io.received.insert(io.received.end(), io.readBuffer.begin(), io.readBuffer.end());
    io.readBuffer.clear();
    io.readPending = false;
    if (!io.handler->handleReceivedData(io.received)) return ERROR_INVALID_DATA;
  }

  io.readBuffer.resize(kReadSize);
  ResetEvent(io.readEvent);
  io.readPending = true;
  if (ReadFile(io.handle, io.readBuffer.data(), kReadSize, nullptr, &io.readOverlapped)) {
    // Collected by the next pump, through the completion query.
    SetEvent(io.readEvent);
    return 0;
  }
  DWORD error = GetLastError();
  if (error == ERROR_IO_PENDING) return 0;
  io.readPending = false;  // nothing was started, so there is nothing to wait for later
  return error;
}

uint32_t PipeIoWriteStep(PipeIoState& io) {
  if (io.writePending) {
    DWORD bytes = 0;
    if (!GetOverlappedResult(io.handle, &io.writeOverlapped, &bytes, FALSE)) {
      DWORD error = GetLastError();
      return error == ERROR_IO_INCOMPLETE ? 0 : error;
    }
    if (bytes != io.writing.size()) return ERROR_BUFFER_OVERFLOW;
    io.writePending = false;
  }
  if (io.outgoing.empty()) return 0;

  io.writing.clear();
  io.outgoing.swap(io.writing);
  ResetEvent(io.writeEvent);
  if (WriteFile(io.handle, io.writing.data(), static_cast<DWORD>(io.writing.size()), nullptr, &io.writeOverlapped)) {
    return 0;
  }
  DWORD error = GetLastError();
  if (error != ERROR_IO_PENDING) return error;
  io.writePending = true;
  return 0;
}

void PipeIoWait(PipeIoState& io, intptr_t wake, uint32_t timeoutMs) {
  HANDLE handles[2];
  DWORD count = 0;
  // The read's event is set when it completes, and stays set until the next read starts.
  if (io.readPending) handles[count++] = io.readEvent;
  if (wake != -1 && wake != 0) handles[count++] = reinterpret_cast<HANDLE>(wake);
  if (count == 0) {
    Sleep(timeoutMs);
    return;
  }
  WaitForMultipleObjects(count, handles, FALSE, timeoutMs);
}

void PipeIoQueue(PipeIoState& io, const uint8_t* bytes, size_t size) { io.outgoing.insert(io.outgoing.end(), bytes, bytes + size); }

void PipeIoClose(PipeIoState& io) {
  FinishInFlight(io);
  io.isOpen = false;
  io.readPending = false;
  io.writePending = false;
  if (io.handle != INVALID_HANDLE_VALUE) {
    CloseHandle(io.handle);
    io.handle = INVALID_HANDLE_VALUE;
  }
}
