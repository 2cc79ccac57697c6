// Wake events on Win32: an unnamed auto-reset event (CreateEventA).
#include "platform/event.h"

#include <new>

#include "platform/win32/event_handle.h"

struct PlatEvent {
  HANDLE hEvent;
};

PLATEVENT PlatEventCreate() {
  HANDLE h = CreateEventA(NULL, FALSE, FALSE, NULL);
  if (!h) return nullptr;
  PLATEVENT p = new (std::nothrow) PlatEvent{h};
  if (!p) CloseHandle(h);
  return p;
}

void PlatEventSet(PLATEVENT hEvent) {
  if (hEvent) SetEvent(hEvent->hEvent);
}

void PlatEventReset(PLATEVENT hEvent) {
  if (hEvent) ResetEvent(hEvent->hEvent);
}

bool PlatEventWait(PLATEVENT hEvent, DWORD dwMillis) {
  return hEvent && WaitForSingleObject(hEvent->hEvent, dwMillis) == WAIT_OBJECT_0;
}

void PlatEventClose(PLATEVENT hEvent) {
  if (!hEvent) return;
  CloseHandle(hEvent->hEvent);
  delete hEvent;
}

HANDLE PlatEventHandle(PLATEVENT hEvent) {
  return hEvent ? hEvent->hEvent : NULL;
}
