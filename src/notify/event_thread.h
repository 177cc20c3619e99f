#ifndef OMBRIX_NOTIFY_EVENT_THREAD_H
#define OMBRIX_NOTIFY_EVENT_THREAD_H

namespace ombrix {

// The event thread: takes the I/O thread's messages in posting order,
// answers the handshake messages and runs the InputChange, InterfaceChange
// and Heartbeat callbacks. Ends once it takes a message while the registry
// is empty (normally the last link's MsgClosed).
void EventThread(void* unused);

}  // namespace ombrix

#endif  // OMBRIX_NOTIFY_EVENT_THREAD_H
