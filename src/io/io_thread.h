#ifndef OMBRIX_IO_IO_THREAD_H
#define OMBRIX_IO_IO_THREAD_H

namespace ombrix {

// The I/O thread: serves every registered link in passes until the registry
// is empty. The only thread that starts and completes asynchronous
// transfers, unlinks records and posts messages.
void IoThread(void* unused);

}  // namespace ombrix

#endif  // OMBRIX_IO_IO_THREAD_H
