#pragma once

// Ties the running service together once the engine is ready: the callback object, the channel
// to the client and the processing thread. Runs on the main thread before the event loop; the
// objects it creates live until unwireService takes them down after the event loop.

#include <QString>

class AiIpcHandle;
class ProcessThread;

// Written once by wireService, before the processing thread starts and before the event loop
// runs, and cleared by unwireService after the event loop has ended; no lock needed.
extern AiIpcHandle* g_ipcHandle;
extern ProcessThread* g_processThread;

// Creates the channel (receiveName first, size for both directions), creates and starts the
// processing thread, then starts the channel. A channel that fails to start reports it itself;
// the service goes on.
void wireService(const QString& receiveName, const QString& sendName, int size);

// Stops the processing thread, then closes the channel: its threads end, its segments and
// semaphores are closed (the last holder removes them) and its socket file is removed.
void unwireService();
