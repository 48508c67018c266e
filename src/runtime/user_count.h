// CUserCount: the calls now using a shared object that another thread may withdraw. A user
// counts itself (CUse) before it reads the object's pointer; the withdrawing thread empties the
// pointer first and then waits for the count to reach zero (all sequentially consistent). So a
// user either finds no object or one that stays until it is done, without a lock on its path.
#pragma once

#include <atomic>
#include <thread>

class CUserCount {
public:
    class CUse {
    public:
        explicit CUse(CUserCount& count) : count_(count) { count_.users_.fetch_add(1); }
        ~CUse() { count_.users_.fetch_sub(1); }
        CUse(const CUse&) = delete;
        CUse& operator=(const CUse&) = delete;

    private:
        CUserCount& count_;
    };

    // Returns once no user is left; uses are short, so it yields rather than sleeps.
    void AwaitNone() const {
        while (users_.load() != 0) std::this_thread::yield();
    }

private:
    std::atomic<int> users_{0};
};
