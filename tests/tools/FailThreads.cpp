// Loaded with LD_PRELOAD into a program under test: refuses every new thread after the first
// VEXA_THREADS_ALLOWED, as a process limit (ulimit -u) or an address-space limit (ulimit -v)
// does on a crowded node.
#include <dlfcn.h>
#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

extern "C" int pthread_create(
    pthread_t *thread, const pthread_attr_t *attr, void *(*start)(void *), void *arg)
{
    using Create = int (*)(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *);
    static const auto real = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
    static const int allowed = [] {
        const char *v = std::getenv("VEXA_THREADS_ALLOWED");
        return v ? std::atoi(v) : -1;
    }();
    static std::atomic<int> made { 0 };
    if (allowed >= 0 && made.fetch_add(1) >= allowed)
        return EAGAIN;
    return real(thread, attr, start, arg);
}
