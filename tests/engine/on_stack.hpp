// Runs a test's work on a thread with a stack of a chosen size, where the
// platform lets a test choose one (HAS_STACK_CHOICE); elsewhere on the
// calling thread.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>

#if __has_include(<pthread.h>)
#include <pthread.h>
#define MORVELAN_TEST_HAS_STACK_CHOICE 1
#endif

inline void on_stack(std::size_t size, const std::function<void()>& f) {
#ifdef MORVELAN_TEST_HAS_STACK_CHOICE
    pthread_attr_t attr;
    ASSERT_EQ(pthread_attr_init(&attr), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, size), 0);
    pthread_t thread;
    auto run = [](void* arg) -> void* {
        (*static_cast<const std::function<void()>*>(arg))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attr, run, const_cast<std::function<void()>*>(&f)), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
#else
    (void)size;
    f();
#endif
}
