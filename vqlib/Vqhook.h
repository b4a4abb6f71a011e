#pragma once
// A process-wide service that tests replace for one scope: the host lookup,
// the clock, the HTTP limits, the UI executor. Only a THookScope changes it,
// so a test that fails half-way still puts the previous one back.

#include <mutex>
#include <utility>

template <class T>
class THook {
public:
    explicit THook(T initial = T()) : FValue(std::move(initial)) {}
    THook(const THook&) = delete;
    THook& operator=(const THook&) = delete;

    // A copy: the caller uses it outside the lock.
    T Get() const
    {
        std::lock_guard lock(FMutex);
        return FValue;
    }

private:
    template <class>
    friend class THookScope;

    T Exchange(T value)
    {
        std::lock_guard lock(FMutex);
        std::swap(FValue, value);
        return value;
    }

    mutable std::mutex FMutex;
    T FValue;
};

template <class T>
class THookScope {
public:
    THookScope(THook<T>& hook, T value) : FHook(hook), FPrevious(hook.Exchange(std::move(value))) {}
    ~THookScope() { FHook.Exchange(std::move(FPrevious)); }
    THookScope(const THookScope&) = delete;
    THookScope& operator=(const THookScope&) = delete;

private:
    THook<T>& FHook;
    T FPrevious;
};
