#include "platform/threadpriority.h"

#if defined(__linux__)
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#elif defined(__APPLE__)
#include <pthread.h>
#include <sys/qos.h>
#endif

void yieldToOtherThreads()
{
#if defined(__linux__)
    // On Linux a nice value belongs to the thread named by its id.
    setpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)), 10);
#elif defined(__APPLE__)
    pthread_set_qos_class_self_np(QOS_CLASS_UTILITY, 0);
#endif
}
