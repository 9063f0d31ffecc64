// AccountLock: one session per account at a time.  An account is named by
// its state file ("user@server.dat"); a session holds it from before its
// login upstream until it ends, so that no two sessions collect, delete
// from or write the state of one mailbox at once, while sessions of other
// accounts never wait for each other.
//
// The holders are the sessions of this process: one instance of the
// program serves a data root.  A wait is given up at its limit, or within
// StopToken::kSliceMs of a stop request.
#pragma once

#include <chrono>
#include <string>

class AccountLock
{
public:
    AccountLock() = default;
    ~AccountLock() { release(); }
    AccountLock(const AccountLock&) = delete;
    AccountLock& operator=(const AccountLock&) = delete;

    // Holds account, waiting at most limit while another holder has it;
    // false when it could not be had.  A lock holds one account at a time:
    // the one it held before is let go first.
    bool acquire(const std::string& account, std::chrono::milliseconds limit);
    void release();
    bool held() const { return !m_account.empty(); }

private:
    std::string m_account;
};
